// What a sender of commands needs of the link: its state, the length to write on a channel, and
// one request at a time that returns once its reply has been handled. The pages of the console
// and the calibration run send through it; tests put a scripted frame behind it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tactra {

// Link states.
constexpr int kLinkNone = 0;     // no frame bound
constexpr int kLinkBound = 1;    // a frame is bound
constexpr int kLinkStarted = 2;  // console: calibration program started; calibration: begun

class LinkPort {
 public:
  virtual ~LinkPort() = default;
  virtual int GetLinkState() const = 0;
  virtual void SetLinkState(int state) = 0;
  // The length every report to `channel` is written with.
  virtual int GetOutputLength(int channel) const = 0;
  // Writes one report and waits for a reply to be handled: true when one was, false when the
  // write failed or the wait ran out.
  virtual bool Transact(int channel, const uint8_t* report, std::size_t length) = 0;
};

}  // namespace tactra

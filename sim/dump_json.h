// The frame as one JSON object, for `tactra-framesim ctl dump`.
#pragma once

#include <string>
#include <vector>

#include "sim/finger.h"
#include "sim/frame_model.h"

namespace tactra::sim {

struct DumpContext {
  bool connected = true;
  int present = 6;  // collections that have arrived (fewer while a staggered plug-in goes on)
  std::vector<std::string> paths;
  const Finger* finger = nullptr;
};

std::string DumpJsonHead(const FrameModel& model, const DumpContext& context);
// One entry of "received", without a separator.
std::string DumpReceived(const ReceivedReport& report);

// The object in pieces, made as the client takes them: the log of received reports makes it
// large, so it is never held whole. It shows the frame as it was when the stream began (the
// log only grows, so the reports logged by then stay where they are).
class DumpStream {
 public:
  DumpStream(const FrameModel& model, const DumpContext& context);
  // The next piece, of about `size` bytes (one entry more at the most); false once all was given.
  bool Next(const FrameModel& model, std::size_t size, std::string& piece);

 private:
  std::string head_;
  std::size_t next_ = 0;
  std::size_t end_ = 0;
  bool done_ = false;
};

}  // namespace tactra::sim

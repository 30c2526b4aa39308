// The simulated frame without any I/O: its six collections, its settings and calibration, the
// answers to every command, the faults it can be told to play, and the log of every report it
// received. The server moves bytes in and out; tests drive it directly.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "device/protocol.h"
#include "sim/frame_settings.h"

namespace tactra::sim {

struct ChannelSpec {
  uint16_t input;
  uint16_t output;
};

constexpr int kFrameChannels = 6;
constexpr uint16_t kFrameVendorId = 0x595A;
constexpr uint16_t kFrameProductId = 0x0008;

// The collections of the frame, by channel: input and output report lengths.
std::array<ChannelSpec, kFrameChannels> DefaultChannels();

enum class FaultKind { None, Silent, Refuse, Malformed, Delay, Duplicate };
enum class Malformation { Terminator, Length };

struct Fault {
  FaultKind kind = FaultKind::None;
  Malformation malformation = Malformation::Terminator;
  std::chrono::milliseconds delay{0};
};

// A report the frame sends: on `channel`, after `delay`.
struct OutReport {
  int channel = 0;
  std::vector<uint8_t> bytes;
  std::chrono::milliseconds delay{0};
};

struct ReceivedReport {
  int channel;
  std::vector<uint8_t> bytes;
};

// Faults apply to one command code on one report ID, or with report ID 0 to the code on both
// command channels.
struct FaultKey {
  uint8_t reportId;
  uint8_t code;
  bool operator<(const FaultKey& o) const {
    return reportId != o.reportId ? reportId < o.reportId : code < o.code;
  }
};

class FrameModel {
 public:
  // The log keeps this many reports, and this many of their bytes (a client may write
  // reports of any length up to the wire's limit); later ones are counted, not kept. A logged
  // report is never removed, so a dump in progress can go on reading the log by index.
  static constexpr std::size_t kReceivedLogLimit = 200000;
  static constexpr std::size_t kReceivedLogBytes = 16 * 1024 * 1024;

  explicit FrameModel(std::array<ChannelSpec, kFrameChannels> channels = DefaultChannels());

  // A report the host wrote on a channel. Every report is logged; one whose length is not the
  // channel's output length, whose report ID does not belong to it or whose framing is
  // broken is ignored, as the frame's firmware would. Replies are appended to `out`.
  void HandleOutput(int channel, const uint8_t* data, std::size_t length, std::vector<OutReport>& out);

  // Power lost (the frame was unplugged): calibration ends without keeping anything.
  void PowerOff();

  void SetFault(FaultKey key, Fault fault);
  // A stalled channel takes no output report at all until the stall ends: the server neither
  // hands it here nor acknowledges it, so the host's write stays pending.
  void SetStalled(int channel, bool stalled);
  bool stalled(int channel) const { return channel >= 0 && channel < kFrameChannels && stalled_[channel]; }

  const std::array<ChannelSpec, kFrameChannels>& channels() const { return channels_; }
  int mode() const { return mode_; }
  bool calibrating() const { return calibrating_; }
  const FrameSettings& settings() const { return settings_; }
  const FrameInfo& info() const { return info_; }
  const proto::CalibrationRecord& record() const { return record_; }
  const std::vector<ReceivedReport>& received() const { return received_; }
  uint64_t receivedTotal() const { return receivedTotal_; }
  const std::map<FaultKey, Fault>& faults() const { return faults_; }
  // Counts changes of what the frame keeps across power loss (mode, settings, record).
  uint64_t revision() const { return revision_; }
  // Counts acknowledged CMD_CAL_BEGIN commands; the finger starts on each.
  uint64_t calibrationRuns() const { return calibrationRuns_; }

  // Restores what a state file held.
  void Restore(int mode, const FrameSettings& settings, const proto::CalibrationRecord& record);

  // The record the frame reports before any calibration was kept.
  static proto::CalibrationRecord FactoryRecord();

 private:
  struct Reply {
    bool send = false;
    uint8_t payload[proto::kMaxPayload] = {};
    std::size_t length = 0;
    std::size_t statusOffset = 0;
  };
  Reply AnswerCalibration(uint8_t code, const uint8_t* payload, std::size_t length, bool refuse);
  void KeepResult();
  const Fault& FaultFor(uint8_t reportId, uint8_t code) const;
  void Changed() { ++revision_; }

  std::array<ChannelSpec, kFrameChannels> channels_;
  int mode_ = proto::kModeFivePoint;
  bool calibrating_ = false;
  FrameSettings settings_;
  FrameInfo info_;
  proto::CalibrationRecord record_ = FactoryRecord();
  // The result written during the current run, kept when the run ends with "keep".
  std::vector<uint8_t> pendingResult_;
  int pendingMode_ = 0;
  std::map<FaultKey, Fault> faults_;
  std::array<bool, kFrameChannels> stalled_{};
  std::vector<ReceivedReport> received_;
  uint64_t receivedTotal_ = 0;
  std::size_t receivedBytes_ = 0;
  uint64_t revision_ = 0;
  uint64_t calibrationRuns_ = 0;
};

}  // namespace tactra::sim

#include "sim/frame_model.h"

#include <algorithm>
#include <cstring>

namespace tactra::sim {

using namespace tactra::proto;

namespace {

constexpr int kReportIdOfChannel[kFrameChannels] = {0, 0, 0, 0, kCalibrationReportId, kSettingsReportId};

// The reply's N when a malformed reply should fail the "N too large" check of both programs.
constexpr uint8_t kMalformedLength = 60;

std::size_t ResultLengthForMode(int mode) {
  return mode == kModeFourPoint ? kAffineResultLength : kBorderResultLength;
}

}  // namespace

std::array<ChannelSpec, kFrameChannels> DefaultChannels() {
  return {{{62, 0}, {9, 2}, {6, 0}, {64, 8}, {48, 48}, {64, 64}}};
}

FrameModel::FrameModel(std::array<ChannelSpec, kFrameChannels> channels) : channels_(channels) {}

CalibrationRecord FrameModel::FactoryRecord() {
  // The nine logical target points in target order: centre, then clockwise from top-left.
  constexpr uint16_t lo = 127, mid = 2048, hi = 3968;
  CalibrationRecord r;
  r.value1 = kModeFivePoint;
  r.x = {mid, lo, mid, hi, hi, hi, mid, lo, lo};
  r.y = {mid, lo, lo, lo, mid, hi, hi, hi, mid};
  return r;
}

void FrameModel::Restore(int mode, const FrameSettings& settings, const CalibrationRecord& record) {
  if (IsValidMode(mode)) mode_ = mode;
  settings_ = settings;
  record_ = record;
}

void FrameModel::SetFault(FaultKey key, Fault fault) {
  if (fault.kind == FaultKind::None) {
    faults_.erase(key);
  } else {
    faults_[key] = fault;
  }
}

void FrameModel::SetStalled(int channel, bool stalled) {
  if (channel >= 0 && channel < kFrameChannels) stalled_[channel] = stalled;
}

const Fault& FrameModel::FaultFor(uint8_t reportId, uint8_t code) const {
  static const Fault none;
  auto it = faults_.find({reportId, code});
  if (it != faults_.end()) return it->second;
  it = faults_.find({0, code});
  return it != faults_.end() ? it->second : none;
}

void FrameModel::PowerOff() {
  calibrating_ = false;
  pendingResult_.clear();
}

void FrameModel::HandleOutput(int channel, const uint8_t* data, std::size_t length,
                              std::vector<OutReport>& out) {
  if (channel < 0 || channel >= kFrameChannels || length == 0) return;
  ++receivedTotal_;
  if (received_.size() < kReceivedLogLimit && length <= kReceivedLogBytes - receivedBytes_) {
    received_.push_back({channel, {data, data + length}});
    receivedBytes_ += length;
  }

  const int reportId = kReportIdOfChannel[channel];
  if (reportId == 0 || length != channels_[channel].output || data[0] != reportId) return;
  const std::size_t n = data[2];
  if (3 + n >= length || data[3 + n] != 0xFF) return;  // broken framing: no answer
  const uint8_t code = data[1];
  const Fault& fault = FaultFor(static_cast<uint8_t>(reportId), code);
  if (fault.kind == FaultKind::Silent) return;
  const bool refuse = fault.kind == FaultKind::Refuse;

  Reply reply;
  if (reportId == kCalibrationReportId) {
    reply = AnswerCalibration(code, data + 3, n, refuse);
  } else {
    SettingsAnswer a = AnswerSettings(settings_, info_, code, data + 3, n, refuse);
    if (a.changed) Changed();
    reply.send = a.reply;
    std::memcpy(reply.payload, a.payload, a.length);
    reply.length = a.length;
    reply.statusOffset = a.statusOffset;
  }
  if (!reply.send) return;

  OutReport report;
  report.channel = channel;
  report.bytes.assign(channels_[channel].input, 0);
  std::vector<uint8_t>& b = report.bytes;
  if (b.size() < 4 + reply.length) return;  // the reply would not fit the channel's report
  b[0] = static_cast<uint8_t>(reportId);
  b[1] = code;
  b[2] = static_cast<uint8_t>(reply.length);
  std::memcpy(b.data() + 3, reply.payload, reply.length);
  b[3 + reply.length] = 0xFF;
  if (fault.kind == FaultKind::Malformed) {
    if (fault.malformation == Malformation::Terminator) {
      b[3 + reply.length] = 0x00;
    } else {
      b[2] = kMalformedLength;
      if (3u + kMalformedLength < b.size()) b[3 + kMalformedLength] = 0xFF;
    }
  }
  if (fault.kind == FaultKind::Delay) report.delay = fault.delay;
  // The command is done once; only its answer goes out twice.
  if (fault.kind == FaultKind::Duplicate) out.push_back(report);
  out.push_back(std::move(report));
}

FrameModel::Reply FrameModel::AnswerCalibration(uint8_t code, const uint8_t* payload, std::size_t length,
                                                bool refuse) {
  Reply r;
  r.send = true;
  r.length = 1;
  r.statusOffset = 0;
  uint8_t status = 0;
  switch (code) {
    case CMD_CAL_GET_MODE:
      status = static_cast<uint8_t>(mode_);
      break;
    case CMD_CAL_SET_MODE:
      if (length == 1 && IsValidMode(payload[0]) && !refuse) {
        if (mode_ != payload[0]) Changed();
        mode_ = payload[0];
        status = 1;
      }
      break;
    case CMD_CAL_BEGIN:
      if (!refuse) {
        calibrating_ = true;
        pendingResult_.clear();
        ++calibrationRuns_;
        status = 1;
      }
      break;
    case CMD_CAL_WRITE_RESULT:
      if (!refuse && calibrating_ && length == ResultLengthForMode(mode_)) {
        pendingResult_.assign(payload, payload + length);
        pendingMode_ = mode_;
        status = 1;
      }
      break;
    case CMD_CAL_END:
      // Keeping needs a written result; abandoning always succeeds. Either ends the run.
      if (!refuse && length == 1 && payload[0] <= 1) {
        if (payload[0] == 1 && calibrating_ && !pendingResult_.empty()) {
          KeepResult();
          status = 1;
        } else {
          status = payload[0] == 0 ? 1 : 0;
        }
        calibrating_ = false;
        pendingResult_.clear();
      }
      break;
    case CMD_CAL_WRITE_DATA:
      if (!refuse && length == kCalibrationRecordLength) {
        const CalibrationRecord next = DecodeRecord(payload);
        if (!(next == record_)) Changed();
        record_ = next;
        status = 1;
      }
      break;
    case CMD_CAL_READ_DATA: {
      const RecordBytes bytes = EncodeRecord(record_);
      std::memcpy(r.payload, bytes.data(), bytes.size());
      r.length = bytes.size();
      if (refuse) r.payload[0] = 0;
      return r;
    }
    case CMD_CAL_ACTION_09:
      // The calibration action brings back the factory calibration.
      if (!refuse) {
        if (!(record_ == FactoryRecord())) Changed();
        record_ = FactoryRecord();
        status = 1;
      }
      break;
    default:
      break;  // a code the frame lacks: answered as not done
  }
  r.payload[0] = refuse ? 0 : status;
  return r;
}

void FrameModel::KeepResult() {
  // The record says how the calibration was made; its point area holds the result as written:
  // nine points for the five- and nine-point modes, the six coefficients of the four-point mode
  // (points 0..2).
  RecordBytes bytes{};
  bytes[0] = static_cast<uint8_t>(pendingMode_);
  bytes[1] = settings_.option13;
  bytes[2] = 1;                                       // a kept calibration is in force
  bytes[3] = pendingMode_ == kModeFourPoint ? 1 : 0;  // the points hold coefficients
  bytes[4] = 0;                                       // not imported
  std::memcpy(bytes.data() + 5, pendingResult_.data(), std::min<std::size_t>(pendingResult_.size(), 36));
  record_ = DecodeRecord(bytes.data());
  Changed();
}

}  // namespace tactra::sim

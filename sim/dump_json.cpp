#include "sim/dump_json.h"

#include <cstdio>

#include "sim/hex.h"

namespace tactra::sim {

namespace {

const char* Bool(bool v) { return v ? "true" : "false"; }

// Paths and texts here are printable ASCII; quote and backslash are escaped.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

const char* FaultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::Silent:
      return "silent";
    case FaultKind::Refuse:
      return "refuse";
    case FaultKind::Malformed:
      return "malformed";
    case FaultKind::Delay:
      return "delay";
    case FaultKind::Duplicate:
      return "duplicate";
    default:
      return "none";
  }
}

std::string Timed(const TimedSetting& t) {
  return "{\"enabled\":" + std::to_string(t.enabled) + ",\"level\":" + std::to_string(t.level) +
         ",\"time\":" + std::to_string(t.time) + "}";
}

std::string Array(const uint8_t* v, std::size_t n) {
  std::string out = "[";
  for (std::size_t i = 0; i < n; ++i) out += (i ? "," : "") + std::to_string(v[i]);
  return out + "]";
}

// In full, however large (a manual finger may be put anywhere).
std::string Number(double v) {
  const int length = std::snprintf(nullptr, 0, "%.3f", v);
  if (length <= 0) return "0";
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(&text[0], text.size(), "%.3f", v);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace

std::string DumpJsonHead(const FrameModel& model, const DumpContext& context) {
  const FrameSettings& s = model.settings();
  const proto::RecordBytes record = proto::EncodeRecord(model.record());
  std::string out = "{";
  out += "\"connected\":" + std::string(Bool(context.connected));
  out += ",\"present\":" + std::to_string(context.present);
  out += ",\"mode\":" + std::to_string(model.mode());
  out += ",\"calibrating\":" + std::string(Bool(model.calibrating()));
  out += ",\"option13\":" + std::to_string(s.option13);
  out += ",\"record\":\"" + ToHex(record.data(), record.size()) + "\"";
  out += ",\"settings\":{";
  out += "\"cfg11\":" + std::to_string(s.cfg11);
  out += ",\"cfg12\":" + Array(s.cfg12.data(), s.cfg12.size());
  out += ",\"option13\":" + std::to_string(s.option13);
  out += ",\"cfg14\":" + Timed(s.cfg14);
  out += ",\"cfg15\":" + Timed(s.cfg15);
  out += ",\"cfg16\":{\"enabled\":" + std::to_string(s.cfg16Enabled) +
         ",\"value\":" + std::to_string(s.cfg16Value) + "}";
  out += ",\"cfg17\":" + Array(s.cfg17.data(), s.cfg17.size());
  out += ",\"cfg21\":{\"enabled\":" + std::to_string(s.cfg21Enabled) + ",\"a\":" + std::to_string(s.cfg21A) +
         ",\"b\":" + std::to_string(s.cfg21B) + "}";
  out += "}";
  if (context.finger != nullptr) {
    const Finger& f = *context.finger;
    out += ",\"finger\":{\"auto\":" + std::string(Bool(f.config().automatic));
    out += ",\"touching\":" + std::string(Bool(f.touching()));
    out += ",\"x\":" + Number(f.position().x) + ",\"y\":" + Number(f.position().y) + "}";
  }
  out += ",\"faults\":[";
  bool first = true;
  for (const auto& [key, fault] : model.faults()) {
    if (!first) out += ',';
    first = false;
    out += "{\"report_id\":" + std::to_string(key.reportId) + ",\"code\":" + std::to_string(key.code) +
           ",\"kind\":\"" + FaultName(fault.kind) + "\",\"delay_ms\":" + std::to_string(fault.delay.count()) +
           "}";
  }
  out += "],\"stalled\":[";
  first = true;
  for (int channel = 0; channel < kFrameChannels; ++channel) {
    if (!model.stalled(channel)) continue;
    out += (first ? "" : ",") + std::to_string(channel);
    first = false;
  }
  out += "],\"paths\":[";
  for (std::size_t i = 0; i < context.paths.size(); ++i) out += (i ? "," : "") + Quoted(context.paths[i]);
  out += "],\"received_count\":" + std::to_string(model.receivedTotal()) + ",";
  return out;
}

std::string DumpReceived(const ReceivedReport& report) {
  return "{\"channel\":" + std::to_string(report.channel) + ",\"report\":\"" +
         ToHex(report.bytes.data(), report.bytes.size()) + "\"}";
}

DumpStream::DumpStream(const FrameModel& model, const DumpContext& context)
    : head_(DumpJsonHead(model, context) + "\"received\":["), end_(model.received().size()) {}

bool DumpStream::Next(const FrameModel& model, std::size_t size, std::string& piece) {
  if (done_) return false;
  piece = std::move(head_);
  head_.clear();
  const std::vector<ReceivedReport>& log = model.received();
  for (; next_ < end_ && piece.size() < size; ++next_) {
    if (next_ > 0) piece += ',';
    piece += DumpReceived(log[next_]);
  }
  if (next_ == end_) {
    piece += "]}\n";
    done_ = true;
  }
  return true;
}

}  // namespace tactra::sim

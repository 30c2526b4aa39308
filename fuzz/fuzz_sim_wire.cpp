// Arbitrary bytes from a simulator client: the stream decoder, every message parser, and the
// frame model fed with whatever reports get through. Nothing may crash or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/frame_model.h"
#include "sim/state_file.h"
#include "sim/wire.h"

namespace {

using namespace tactra::sim;

void ParseEverything(const wire::Message& m, FrameModel& model, std::vector<OutReport>& out) {
  wire::OpenRequest open;
  wire::OpenReply opened;
  wire::Notice notice;
  wire::Bytes report;
  std::vector<std::string> args;
  std::vector<wire::InterfaceInfo> list;
  uint8_t code = 0;
  wire::ParseOpen(m, open);
  wire::ParseOpened(m, opened);
  wire::ParseNotice(m, notice);
  wire::ParseControl(m, args);
  wire::ParseInterfaces(m, list);
  wire::ParseControlDone(m, code);
  wire::ParseReport(m, wire::kInput, report);
  if (wire::ParseReport(m, wire::kOutput, report)) {
    // The first byte picks the channel, as an open handle would.
    model.HandleOutput(report[0] % kFrameChannels, report.data(), report.size(), out);
    out.clear();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte sets how the stream is cut into receives.
  const std::size_t chunk = 1 + data[0] % 64;
  ++data;
  --size;
  wire::Decoder decoder;
  FrameModel model;
  std::vector<OutReport> out;
  for (std::size_t at = 0; at < size; at += chunk) {
    const std::size_t n = size - at < chunk ? size - at : chunk;
    if (!decoder.Feed(data + at, n)) break;
    wire::Message m;
    wire::Decoder::Status status;
    while ((status = decoder.Next(m)) == wire::Decoder::Status::Message) ParseEverything(m, model, out);
    if (status == wire::Decoder::Status::Bad) break;
  }
  FrameState state;
  ParseState(std::string(reinterpret_cast<const char*>(data), size), state);
  return 0;
}

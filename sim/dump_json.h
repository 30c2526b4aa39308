// The frame as one JSON object, for `tactra-framesim ctl dump`.
#pragma once

#include <string>
#include <vector>

#include "sim/finger.h"
#include "sim/frame_model.h"

namespace tactra::sim {

struct DumpContext {
  bool connected = true;
  std::vector<std::string> paths;
  const Finger* finger = nullptr;
};

// Calls `emit` with consecutive pieces of the object; the log of received reports makes it
// large, so it never has to be held in one string.
template <typename Emit>
void DumpJson(const FrameModel& model, const DumpContext& context, Emit&& emit);

std::string DumpJsonHead(const FrameModel& model, const DumpContext& context);
// One entry of "received", without a separator.
std::string DumpReceived(const ReceivedReport& report);

template <typename Emit>
void DumpJson(const FrameModel& model, const DumpContext& context, Emit&& emit) {
  std::string piece = DumpJsonHead(model, context);
  piece += "\"received\":[";
  bool first = true;
  for (const ReceivedReport& r : model.received()) {
    if (!first) piece += ',';
    first = false;
    piece += DumpReceived(r);
    if (piece.size() > 32768) {
      emit(piece);
      piece.clear();
    }
  }
  piece += "]}\n";
  emit(piece);
}

}  // namespace tactra::sim

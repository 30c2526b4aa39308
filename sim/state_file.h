// The frame's lasting state (mode, settings, calibration record) in a small text file, so a
// simulator started again finds what the programs wrote before.
#pragma once

#include <string>

#include "sim/frame_model.h"

namespace tactra::sim {

struct FrameState {
  int mode = proto::kModeFivePoint;
  FrameSettings settings;
  proto::CalibrationRecord record = FrameModel::FactoryRecord();
};

std::string FormatState(const FrameState& state);
// False (and `out` untouched) when the text is not a complete, valid state: each key once.
bool ParseState(const std::string& text, FrameState& out);

// Writes a new file beside it (never through an existing name or link), flushes it to the disk
// and renames it over the file, so a reader never sees half a state. False when any step failed.
bool SaveState(const std::string& path, const FrameState& state);
// False when the file is missing, too large or not a valid state.
bool LoadState(const std::string& path, FrameState& out);

}  // namespace tactra::sim

// The calibration computation: turns the raw frame coordinates measured at the targets into
// the result the frame keeps (the payload of CMD_CAL_WRITE_RESULT). Pure code without I/O.
#pragma once

#include <array>
#include <cstdint>

#include "device/protocol.h"

namespace tactra {

// The operating-system class from which the expected points of a rotated display apply.
constexpr int kWindowsClassSeven = 6;

// The squared distance of two points in 64 bits: raw 16-bit coordinates cannot overflow it.
constexpr int64_t DistanceSquared(int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  return (x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2);
}

// Measured raw point k of the run, in the order the run took the targets.
struct CalibrationInput {
  int mode = proto::kModeFivePoint;
  int osClass = 0;      // see WindowsClassFromVersion
  int orientation = 0;  // display orientation, quarter turns 0..3
  std::array<uint16_t, 9> rx{};
  std::array<uint16_t, 9> ry{};
};

struct CalibrationResult {
  // False when there is nothing sound to send: an unknown mode, or four corners of which the
  // fitted three lie on one line. The payload is then empty and must not be sent.
  bool ok = false;
  std::array<int32_t, 6> c{};   // four-point mode: fixed point, 4096 = 1.0 for c0, c1, c3, c4
  std::array<int32_t, 9> bx{};  // five- and nine-point modes: border points in grid order
  std::array<int32_t, 9> by{};
  proto::ResultPayload payload;
};

CalibrationResult ComputeCalibration(const CalibrationInput& input);

// The steps, exposed for the tests ------------------------------------------------------------

// Grid order: centre, then the eight outer points clockwise from the top-left corner.
enum GridPosition {
  kCentre,
  kTopLeft,
  kTopCentre,
  kTopRight,
  kRightCentre,
  kBottomRight,
  kBottomCentre,
  kBottomLeft,
  kLeftCentre
};

// Truncation of a real toward zero. Well defined for every double: NaN gives 0 and values
// beyond the 64-bit range saturate.
int64_t TruncateReal(double v);
// TruncateReal(v + 0.5): halves round up for positive values, -2.7 becomes -2.
int64_t RoundReal(double v);
// The low 32 bits as a signed value (what a 32-bit field keeps of a wider result).
int32_t Low32(int64_t v);

// The four logical points the corners k = 0..3 stand for (four-point mode).
struct ExpectedCorners {
  std::array<int32_t, 4> x;
  std::array<int32_t, 4> y;
};
ExpectedCorners ExpectedCornerPoints(int osClass, int orientation);

// The corner whose two edges are closest to a right angle; the lower index wins a tie.
int ChooseBaseCorner(const std::array<uint16_t, 4>& rx, const std::array<uint16_t, 4>& ry);

// The four-point fit. False (coefficients zero) when corners m-1, m, m+1 are collinear.
bool FitAffine(const std::array<uint16_t, 4>& rx, const std::array<uint16_t, 4>& ry,
               const ExpectedCorners& expected, std::array<int32_t, 6>& c);

struct Grid {
  std::array<uint16_t, 9> x{};
  std::array<uint16_t, 9> y{};
};

// Five-point mode: centre and corners placed on the grid, edge midpoints as truncated means.
Grid ExpandFivePoint(const std::array<uint16_t, 9>& rx, const std::array<uint16_t, 9>& ry);
// Turns the ring of outer points two positions per quarter turn; the centre stays.
Grid OrientGrid(const Grid& grid, int orientation);
// The raw coordinates of the screen's centre, corners and edge midpoints.
void ExtrapolateBorder(const Grid& oriented, std::array<int32_t, 9>& bx, std::array<int32_t, 9>& by);

}  // namespace tactra

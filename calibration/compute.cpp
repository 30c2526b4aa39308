#include "calibration/compute.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace tactra {

namespace {

// Logical positions of targets 1/32 and 31/32 of the screen from an edge.
constexpr int32_t kNear = 127;
constexpr int32_t kFar = 3968;
constexpr int64_t kOne = 4096;  // 1.0 in the affine factors

// Expected points of corners k = 0..3 per display orientation. The rows of a turned display
// apply from the Windows 7 class on; earlier classes always take the unturned row.
constexpr int32_t kExpected[4][4][2] = {
    {{kNear, kNear}, {kFar, kNear}, {kFar, kFar}, {kNear, kFar}},
    {{kNear, kFar}, {kNear, kNear}, {kFar, kNear}, {kFar, kFar}},
    {{kFar, kFar}, {kNear, kFar}, {kNear, kNear}, {kFar, kNear}},
    {{kFar, kNear}, {kFar, kFar}, {kNear, kFar}, {kNear, kNear}},
};

int NormalOrientation(int orientation) { return orientation >= 0 && orientation <= 3 ? orientation : 0; }

// A point moved outward by 1/15 of its distance from `reference`.
int64_t PushAway(int64_t value, int64_t reference) {
  return value + TruncateReal(static_cast<double>(value - reference) / 15.0);
}

int64_t Corner(int64_t u, int64_t v, int64_t borderS, int64_t borderT) {
  const int64_t sum = u + v + TruncateReal(static_cast<double>(v - borderS) / 15.0) +
                      TruncateReal(static_cast<double>(u - borderT) / 15.0);
  return TruncateReal(static_cast<double>(sum) * 0.5 + 0.5);
}

}  // namespace

int64_t TruncateReal(double v) {
  // 2^63 is exact in a double; every double below it and above -2^63 converts exactly.
  constexpr double kLimit = 9223372036854775808.0;
  if (std::isnan(v)) return 0;
  if (v >= kLimit) return std::numeric_limits<int64_t>::max();
  if (v < -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
}

int64_t RoundReal(double v) { return TruncateReal(v + 0.5); }

int32_t Low32(int64_t v) {
  const uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(v));
  if (low <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return static_cast<int32_t>(low);
  return static_cast<int32_t>(static_cast<int64_t>(low) - (int64_t{1} << 32));
}

ExpectedCorners ExpectedCornerPoints(int osClass, int orientation) {
  const int row = osClass == kWindowsClassSeven ? NormalOrientation(orientation) : 0;
  ExpectedCorners e{};
  for (int k = 0; k < 4; ++k) {
    e.x[k] = kExpected[row][k][0];
    e.y[k] = kExpected[row][k][1];
  }
  return e;
}

int ChooseBaseCorner(const std::array<uint16_t, 4>& rx, const std::array<uint16_t, 4>& ry) {
  int best = 0;
  int64_t bestQ = 0;
  for (int i = 0; i < 4; ++i) {
    const int p = (i + 3) % 4;
    const int n = (i + 1) % 4;
    // Twice the dot product of the two edges leaving corner i: 0 for a right angle.
    const int64_t q = DistanceSquared(rx[i], ry[i], rx[p], ry[p]) +
                      DistanceSquared(rx[i], ry[i], rx[n], ry[n]) -
                      DistanceSquared(rx[p], ry[p], rx[n], ry[n]);
    const int64_t magnitude = q < 0 ? -q : q;
    if (i == 0 || magnitude < bestQ) {
      best = i;
      bestQ = magnitude;
    }
  }
  return best;
}

bool FitAffine(const std::array<uint16_t, 4>& rx, const std::array<uint16_t, 4>& ry,
               const ExpectedCorners& expected, std::array<int32_t, 6>& c) {
  c = {};
  const int m = ChooseBaseCorner(rx, ry);
  const int a = (m + 3) % 4;
  const int b = (m + 1) % 4;
  // Raw coordinates reach 65535, so products of differences need more than 32 bits.
  const int64_t dxa = int64_t{rx[a]} - rx[m];
  const int64_t dya = int64_t{ry[a]} - ry[m];
  const int64_t dxb = int64_t{rx[m]} - rx[b];
  const int64_t dyb = int64_t{ry[m]} - ry[b];
  const int64_t ea = int64_t{expected.x[a]} - expected.x[m];
  const int64_t eb = int64_t{expected.x[m]} - expected.x[b];
  const int64_t fa = int64_t{expected.y[a]} - expected.y[m];
  const int64_t fb = int64_t{expected.y[m]} - expected.y[b];
  const int64_t det = dxa * dyb - dxb * dya;
  if (det == 0) return false;  // a, m, b on one line: no finite map exists

  // The factors' numerators stay below 2^53, so they convert to double exactly.
  const double d = static_cast<double>(det);
  const int64_t c0 = RoundReal(static_cast<double>(kOne * (ea * dyb - eb * dya)) / d);
  const int64_t c1 = RoundReal(static_cast<double>(kOne * (dxb * ea - dxa * eb)) / -d);
  const int64_t c2 =
      RoundReal(static_cast<double>(kOne * expected.x[a] - c0 * rx[a] - c1 * ry[a]) * (1.0 / 4096));
  const int64_t c3 = RoundReal(static_cast<double>(kOne * (fa * dyb - fb * dya)) / d);
  const int64_t c4 = RoundReal(static_cast<double>(kOne * (fa * dxb - fb * dxa)) / -d);
  const int64_t c5 =
      RoundReal(static_cast<double>(kOne * expected.y[a] - c3 * rx[a] - c4 * ry[a]) * (1.0 / 4096));
  // A 32-bit field keeps the low bits; the frame in turn keeps only the low 16.
  c = {Low32(c0), Low32(c1), Low32(c2), Low32(c3), Low32(c4), Low32(c5)};
  return true;
}

Grid ExpandFivePoint(const std::array<uint16_t, 9>& rx, const std::array<uint16_t, 9>& ry) {
  Grid g;
  constexpr GridPosition kPlace[5] = {kCentre, kTopLeft, kTopRight, kBottomRight, kBottomLeft};
  for (int k = 0; k < 5; ++k) {
    g.x[kPlace[k]] = rx[k];
    g.y[kPlace[k]] = ry[k];
  }
  auto mid = [](uint16_t p, uint16_t q) { return static_cast<uint16_t>((p + q) / 2); };
  g.x[kTopCentre] = mid(g.x[kTopLeft], g.x[kTopRight]);
  g.y[kTopCentre] = mid(g.y[kTopLeft], g.y[kTopRight]);
  g.x[kRightCentre] = mid(g.x[kTopRight], g.x[kBottomRight]);
  g.y[kRightCentre] = mid(g.y[kTopRight], g.y[kBottomRight]);
  g.x[kBottomCentre] = mid(g.x[kBottomRight], g.x[kBottomLeft]);
  g.y[kBottomCentre] = mid(g.y[kBottomRight], g.y[kBottomLeft]);
  g.x[kLeftCentre] = mid(g.x[kBottomLeft], g.x[kTopLeft]);
  g.y[kLeftCentre] = mid(g.y[kBottomLeft], g.y[kTopLeft]);
  return g;
}

Grid OrientGrid(const Grid& grid, int orientation) {
  const int o = NormalOrientation(orientation);
  Grid out;
  out.x[kCentre] = grid.x[kCentre];
  out.y[kCentre] = grid.y[kCentre];
  for (int j = 1; j <= 8; ++j) {
    const int from = 1 + (j - 1 + 2 * o) % 8;
    out.x[j] = grid.x[from];
    out.y[j] = grid.y[from];
  }
  return out;
}

void ExtrapolateBorder(const Grid& o, std::array<int32_t, 9>& bx, std::array<int32_t, 9>& by) {
  std::array<int64_t, 9> x{};
  std::array<int64_t, 9> y{};
  x[kCentre] = o.x[kCentre];
  y[kCentre] = o.y[kCentre];
  for (int j : {kTopCentre, kRightCentre, kBottomCentre, kLeftCentre}) {
    x[j] = PushAway(o.x[j], o.x[kCentre]);
    y[j] = PushAway(o.y[j], o.y[kCentre]);
  }
  // The right-centre point's vertical correction goes toward the centre, unlike all others.
  y[kRightCentre] =
      o.y[kRightCentre] - TruncateReal(static_cast<double>(o.y[kRightCentre] - o.y[kCentre]) / 15.0);

  struct CornerEdges {
    int q, s, t;
  };
  constexpr CornerEdges kCorners[4] = {{kTopLeft, kTopCentre, kLeftCentre},
                                       {kTopRight, kTopCentre, kRightCentre},
                                       {kBottomRight, kRightCentre, kBottomCentre},
                                       {kBottomLeft, kBottomCentre, kLeftCentre}};
  for (const CornerEdges& e : kCorners) {
    x[e.q] = Corner(PushAway(o.x[e.q], o.x[e.s]), PushAway(o.x[e.q], o.x[e.t]), x[e.s], x[e.t]);
    y[e.q] = Corner(PushAway(o.y[e.q], o.y[e.s]), PushAway(o.y[e.q], o.y[e.t]), y[e.s], y[e.t]);
  }
  for (int i = 0; i < 9; ++i) {
    bx[i] = Low32(x[i]);
    by[i] = Low32(y[i]);
  }
}

CalibrationResult ComputeCalibration(const CalibrationInput& input) {
  CalibrationResult result;
  switch (input.mode) {
    case proto::kModeFourPoint: {
      const std::array<uint16_t, 4> rx = {input.rx[0], input.rx[1], input.rx[2], input.rx[3]};
      const std::array<uint16_t, 4> ry = {input.ry[0], input.ry[1], input.ry[2], input.ry[3]};
      if (!FitAffine(rx, ry, ExpectedCornerPoints(input.osClass, input.orientation), result.c)) return result;
      result.payload = proto::EncodeAffineResult(result.c);
      break;
    }
    case proto::kModeFivePoint:
    case proto::kModeNinePoint: {
      Grid grid;
      if (input.mode == proto::kModeFivePoint) {
        grid = ExpandFivePoint(input.rx, input.ry);
      } else {
        grid.x = input.rx;  // nine targets are taken in grid order
        grid.y = input.ry;
      }
      ExtrapolateBorder(OrientGrid(grid, input.orientation), result.bx, result.by);
      result.payload = proto::EncodeBorderResult(result.bx, result.by);
      break;
    }
    default:
      return result;
  }
  result.ok = true;
  return result;
}

}  // namespace tactra

#include "calibration/compute.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tactra {
namespace {

using C6 = std::array<int32_t, 6>;
using B9 = std::array<int32_t, 9>;

TEST(Rounding, TruncateAndRoundAsDefined) {
  struct Case {
    double v;
    int64_t truncated;
    int64_t rounded;
  };
  const Case cases[] = {
      {2.5, 2, 3},  {2.49, 2, 2},   {-2.5, -2, -2}, {-2.7, -2, -2},
      {-0.7, 0, 0}, {-3.0, -3, -2}, {0.0, 0, 0},    {1e12 + 0.25, 1000000000000, 1000000000000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TruncateReal(c.v), c.truncated) << c.v;
    EXPECT_EQ(RoundReal(c.v), c.rounded) << c.v;
  }
}

TEST(Rounding, ConversionIsDefinedForEveryDouble) {
  EXPECT_EQ(TruncateReal(std::nan("")), 0);
  EXPECT_EQ(TruncateReal(1e300), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(TruncateReal(-1e300), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(TruncateReal(std::numeric_limits<double>::infinity()), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(TruncateReal(-9223372036854775808.0), std::numeric_limits<int64_t>::min());
}

TEST(Rounding, Low32KeepsTheLowBitsAsSigned) {
  EXPECT_EQ(Low32(5), 5);
  EXPECT_EQ(Low32(-1), -1);
  EXPECT_EQ(Low32((int64_t{1} << 32) + 5), 5);
  EXPECT_EQ(Low32(int64_t{1} << 31), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Low32(-(int64_t{1} << 31) - 1), std::numeric_limits<int32_t>::max());
}

TEST(ExpectedPoints, RotatedRowsOnlyFromClassSix) {
  struct Case {
    int osClass, orientation;
    std::array<int32_t, 4> x, y;
  };
  const Case cases[] = {
      {6, 0, {127, 3968, 3968, 127}, {127, 127, 3968, 3968}},
      {6, 1, {127, 127, 3968, 3968}, {3968, 127, 127, 3968}},
      {6, 2, {3968, 127, 127, 3968}, {3968, 3968, 127, 127}},
      {6, 3, {3968, 3968, 127, 127}, {127, 3968, 3968, 127}},
      {5, 1, {127, 3968, 3968, 127}, {127, 127, 3968, 3968}},  // older systems ignore rotation
      {0, 2, {127, 3968, 3968, 127}, {127, 127, 3968, 3968}},
      {6, 7, {127, 3968, 3968, 127}, {127, 127, 3968, 3968}},  // not a rotation
  };
  for (const Case& c : cases) {
    const ExpectedCorners e = ExpectedCornerPoints(c.osClass, c.orientation);
    EXPECT_EQ(e.x, c.x) << "class " << c.osClass << " orientation " << c.orientation;
    EXPECT_EQ(e.y, c.y) << "class " << c.osClass << " orientation " << c.orientation;
  }
}

TEST(BaseCorner, SmallestMagnitudeAndLowerIndexOnTies) {
  struct Case {
    const char* what;
    std::array<uint16_t, 4> rx, ry;
    int base;
  };
  const Case cases[] = {
      {"rectangle: all zero", {127, 3968, 3968, 127}, {127, 127, 3968, 3968}, 0},
      // Isosceles trapezoid: |Q| is 80000, 40000, 40000, 80000.
      {"tie between 1 and 2", {0, 300, 300, 0}, {0, 100, 300, 400}, 1},
      // Isosceles trapezoid: |Q| is 40000, 40000, 80000, 80000.
      {"tie between 0 and 1", {100, 300, 400, 0}, {0, 0, 100, 100}, 0},
      // Q is 305000, -1690000, 1400000, 70000: the magnitude counts, not the sign.
      {"magnitude not sign", {300, 3800, 3900, 200}, {250, 400, 3700, 3600}, 3},
      // Squared distances pass 2^32, yet Q is 131070, 0, 0, -131068.
      {"full range", {0, 65535, 65535, 1}, {0, 0, 65535, 65535}, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseBaseCorner(c.rx, c.ry), c.base) << c.what;
}

CalibrationInput FourPoint(std::array<uint16_t, 4> rx, std::array<uint16_t, 4> ry, int osClass,
                           int orientation) {
  CalibrationInput in;
  in.mode = proto::kModeFourPoint;
  in.osClass = osClass;
  in.orientation = orientation;
  for (int k = 0; k < 4; ++k) {
    in.rx[k] = rx[k];
    in.ry[k] = ry[k];
  }
  return in;
}

// Worked out from the fit's formulas, one step at a time.
TEST(FourPoint, HandComputedTable) {
  struct Case {
    const char* what;
    std::array<uint16_t, 4> rx, ry;
    int osClass, orientation;
    C6 c;
  };
  const Case cases[] = {
      {"ideal corners", {127, 3968, 3968, 127}, {127, 127, 3968, 3968}, 6, 0, {4096, 0, 0, 0, 4096, 0}},
      {"older system ignores orientation",
       {127, 3968, 3968, 127},
       {127, 127, 3968, 3968},
       5,
       1,
       {4096, 0, 0, 0, 4096, 0}},
      // x' = 4095 - x; R(-4096) is T(-4095.5) = -4095.
      {"class 6, 180 degrees",
       {127, 3968, 3968, 127},
       {127, 127, 3968, 3968},
       6,
       2,
       {-4095, 0, 4095, 0, -4095, 4094}},
      {"class 6, 90 degrees",
       {127, 3968, 3968, 127},
       {127, 127, 3968, 3968},
       6,
       1,
       {0, 4096, 0, -4095, 0, 4095}},
      {"axes swapped", {127, 127, 3968, 3968}, {127, 3968, 3968, 127}, 0, 0, {0, 4096, 0, 4096, 0, 0}},
      // c2 = (4096*127 - 2048*259) / 4096 = -2.5, and R(-2.5) = T(-2.0) = -2.
      {"negative half", {259, 7941, 7941, 259}, {127, 127, 3968, 3968}, 0, 0, {2048, 0, -2, 0, 4096, 0}},
      // c0 = R(1365.33) = 1365; c2 = (520192 - 1365*389) / 4096 = -2.635, R gives -2.
      {"negative fraction",
       {389, 11912, 11912, 389},
       {127, 127, 3968, 3968},
       0,
       0,
       {1365, 0, -2, 0, 4096, 0}},
      // Base corner 1 of a tie; a = 0, b = 2, det = 60000, c3 = R(-26221.23) = -26220.
      {"tie picks corner 1", {0, 300, 300, 0}, {0, 100, 300, 400}, 0, 0, {52442, 0, 127, -26220, 78664, 127}},
      // Base corner 3 of a skewed quadrilateral, display turned by 270 degrees.
      {"skewed, class 6, 270 degrees",
       {300, 3800, 3900, 200},
       {250, 400, 3700, 3600},
       6,
       3,
       {127, -4692, 4244, 4249, 127, -191}},
  };
  for (const Case& c : cases) {
    const CalibrationResult r = ComputeCalibration(FourPoint(c.rx, c.ry, c.osClass, c.orientation));
    ASSERT_TRUE(r.ok) << c.what;
    EXPECT_EQ(r.c, c.c) << c.what;
    EXPECT_EQ(r.payload.length, proto::kAffineResultLength) << c.what;
  }
}

// det, the squared distances and c0 * RX reach past 32 bits here.
TEST(FourPoint, WideIntermediatesDoNotOverflow) {
  // det = 65535^2 = 4294836225.
  CalibrationResult r = ComputeCalibration(FourPoint({0, 65535, 65535, 0}, {0, 0, 65535, 65535}, 0, 0));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.c, (C6{240, 0, 127, 0, 240, 128}));

  // A 10 x 10 square at 10000: c0 = R(4096 * 3841 / 10) = 1573274, and c0 * RX = 1.6e10.
  r = ComputeCalibration(FourPoint({10000, 10010, 10010, 10000}, {10000, 10000, 10010, 10010}, 0, 0));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.c, (C6{1573274, 0, -3840873, 0, 1573274, -3840873}));
}

TEST(FourPoint, PayloadKeepsTheLow16Bits) {
  const CalibrationResult r =
      ComputeCalibration(FourPoint({10000, 10010, 10010, 10000}, {10000, 10000, 10010, 10010}, 0, 0));
  ASSERT_TRUE(r.ok);
  // 1573274 = 0x18019A, -3840873 low 16 bits 0x6497.
  const std::vector<uint8_t> expected = {0x9A, 0x01, 0x00, 0x00, 0x97, 0x64,
                                         0x00, 0x00, 0x9A, 0x01, 0x97, 0x64};
  ASSERT_EQ(r.payload.length, expected.size());
  EXPECT_EQ(std::vector<uint8_t>(r.payload.bytes.begin(), r.payload.bytes.begin() + 12), expected);
}

TEST(FourPoint, DegenerateCornersGiveNoResult) {
  struct Case {
    const char* what;
    std::array<uint16_t, 4> rx, ry;
  };
  const Case cases[] = {
      {"all four the same", {2000, 2000, 2000, 2000}, {2000, 2000, 2000, 2000}},
      {"corner 1 taken twice", {127, 127, 3968, 127}, {127, 127, 3968, 3968}},
      {"all on one line", {100, 200, 300, 400}, {100, 200, 300, 400}},
      {"nothing measured", {0, 0, 0, 0}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const CalibrationResult r = ComputeCalibration(FourPoint(c.rx, c.ry, 6, 0));
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.payload.length, 0u) << c.what;
    EXPECT_EQ(r.c, C6{}) << c.what;
  }
}

// The map found sends the three corners a, m, b onto their expected points, up to the
// rounding of the coefficients; checked on frames whose corners lie off an exact rectangle.
TEST(FourPoint, FitReachesTheThreeCornersItUses) {
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> jitter(-300, 300);
  std::uniform_int_distribution<int> rotation(0, 3);
  const int ideal[4][2] = {{400, 400}, {3700, 400}, {3700, 3700}, {400, 3700}};
  for (int trial = 0; trial < 500; ++trial) {
    std::array<uint16_t, 4> rx{}, ry{};
    for (int k = 0; k < 4; ++k) {
      rx[k] = static_cast<uint16_t>(ideal[k][0] + jitter(rng));
      ry[k] = static_cast<uint16_t>(ideal[k][1] + jitter(rng));
    }
    const int orientation = rotation(rng);
    const CalibrationResult r = ComputeCalibration(FourPoint(rx, ry, 6, orientation));
    ASSERT_TRUE(r.ok);
    const ExpectedCorners e = ExpectedCornerPoints(6, orientation);
    const int m = ChooseBaseCorner(rx, ry);
    for (int k : {(m + 3) % 4, m, (m + 1) % 4}) {
      const double x = (double(r.c[0]) * rx[k] + double(r.c[1]) * ry[k]) / 4096 + r.c[2];
      const double y = (double(r.c[3]) * rx[k] + double(r.c[4]) * ry[k]) / 4096 + r.c[5];
      EXPECT_NEAR(x, e.x[k], 3.5) << "trial " << trial << " corner " << k;
      EXPECT_NEAR(y, e.y[k], 3.5) << "trial " << trial << " corner " << k;
    }
  }
}

// The ideal grid in the pixels of a 1024 x 1024 screen: targets at 32, 512 and 992.
const B9 kIdealBorderX = {512, 0, 512, 1024, 1024, 1024, 512, 0, 0};
const B9 kIdealBorderY = {512, 0, 0, 0, 512, 1024, 1024, 1024, 512};
const std::array<uint16_t, 9> kGridX = {512, 32, 512, 992, 992, 992, 512, 32, 32};
const std::array<uint16_t, 9> kGridY = {512, 32, 32, 32, 512, 992, 992, 992, 512};

CalibrationInput Grid9(std::array<uint16_t, 9> rx, std::array<uint16_t, 9> ry, int orientation,
                       int osClass = 6) {
  CalibrationInput in;
  in.mode = proto::kModeNinePoint;
  in.osClass = osClass;
  in.orientation = orientation;
  in.rx = rx;
  in.ry = ry;
  return in;
}

CalibrationInput Grid5(std::array<uint16_t, 5> rx, std::array<uint16_t, 5> ry, int orientation) {
  CalibrationInput in;
  in.mode = proto::kModeFivePoint;
  in.osClass = 6;
  in.orientation = orientation;
  for (int k = 0; k < 5; ++k) {
    in.rx[k] = rx[k];
    in.ry[k] = ry[k];
  }
  return in;
}

TEST(Border, IdealGridReachesTheScreenEdges) {
  const CalibrationResult nine = ComputeCalibration(Grid9(kGridX, kGridY, 0));
  ASSERT_TRUE(nine.ok);
  EXPECT_EQ(nine.bx, kIdealBorderX);
  EXPECT_EQ(nine.by, kIdealBorderY);
  EXPECT_EQ(nine.payload.length, proto::kBorderResultLength);

  // Centre, top-left, top-right, bottom-right, bottom-left.
  const CalibrationResult five =
      ComputeCalibration(Grid5({512, 32, 992, 992, 32}, {512, 32, 32, 992, 992}, 0));
  ASSERT_TRUE(five.ok);
  EXPECT_EQ(five.bx, kIdealBorderX);
  EXPECT_EQ(five.by, kIdealBorderY);
}

// Worked out from the extrapolation's formulas; the differences are not multiples of 15, so
// truncation toward zero matters (BX[2] = 2040 + T(-0.67) = 2040, BX[8] = 120 + T(-128.67)).
TEST(Border, HandComputedIrregularGrids) {
  const std::array<uint16_t, 9> rx = {2050, 130, 2040, 3990, 4001, 3960, 2100, 90, 120};
  const std::array<uint16_t, 9> ry = {2000, 140, 100, 160, 2070, 3950, 4010, 3930, 1990};
  struct Case {
    const char* what;
    CalibrationInput in;
    B9 bx, by;
  };
  const Case cases[] = {
      {"nine points",
       Grid9(rx, ry, 0),
       {2050, 3, 2040, 4120, 4131, 4081, 2103, -45, -8},
       {2000, 19, -26, 37, 2066, 4071, 4144, 4054, 1990}},
      {"nine points, 90 degrees",
       Grid9(rx, ry, 1),
       {2050, 4120, 4131, 4081, 2103, -45, -8, 3, 2040},
       {2000, 37, 2074, 4079, 3876, 4063, 1990, 19, -26}},
      {"five points, 270 degrees",
       Grid5({2050, 131, 3990, 3960, 90}, {2000, 140, 160, 3950, 3931}, 3),
       {2050, -39, -19, 4, 2060, 4119, 4103, 4089, 2024},
       {2000, 4057, 2037, 6, 273, 27, 2058, 4076, 4069}},
  };
  for (const Case& c : cases) {
    const CalibrationResult r = ComputeCalibration(c.in);
    ASSERT_TRUE(r.ok) << c.what;
    EXPECT_EQ(r.bx, c.bx) << c.what;
    EXPECT_EQ(r.by, c.by) << c.what;
  }
}

TEST(Border, RightCentreYMovesTowardTheCentre) {
  std::array<uint16_t, 9> ry = kGridY;
  ry[kRightCentre] = 600;  // 88 below the centre
  ry[kLeftCentre] = 600;
  const CalibrationResult r = ComputeCalibration(Grid9(kGridX, ry, 0));
  EXPECT_EQ(r.by[kRightCentre], 600 - 5);  // toward the centre's 512
  EXPECT_EQ(r.by[kLeftCentre], 600 + 5);   // away from it, as every other correction
  EXPECT_EQ(r.bx[kRightCentre], 1024);     // X still moves away from the centre
}

TEST(Border, FivePointEdgesAreTruncatedMeans) {
  const Grid g = ExpandFivePoint({500, 101, 200, 301, 50}, {400, 11, 20, 33, 44});
  EXPECT_EQ(g.x, (std::array<uint16_t, 9>{500, 101, 150, 200, 250, 301, 175, 50, 75}));
  EXPECT_EQ(g.y, (std::array<uint16_t, 9>{400, 11, 15, 20, 26, 33, 38, 44, 27}));
  // Raw coordinates near the top of the range: the sum must not wrap in 16 bits.
  EXPECT_EQ(ExpandFivePoint({0, 65535, 65533, 0, 0}, {}).x[kTopCentre], 65534);
}

TEST(Border, OrientationTurnsTheRingTwoPlacesPerQuarterTurn) {
  Grid g;
  for (int i = 0; i < 9; ++i) {
    g.x[i] = static_cast<uint16_t>(100 + i);
    g.y[i] = static_cast<uint16_t>(200 + i);
  }
  struct Case {
    int orientation;
    std::array<uint16_t, 9> x;
  };
  const Case cases[] = {
      {0, {100, 101, 102, 103, 104, 105, 106, 107, 108}},
      {1, {100, 103, 104, 105, 106, 107, 108, 101, 102}},
      {2, {100, 105, 106, 107, 108, 101, 102, 103, 104}},
      {3, {100, 107, 108, 101, 102, 103, 104, 105, 106}},
  };
  for (const Case& c : cases) {
    const Grid o = OrientGrid(g, c.orientation);
    EXPECT_EQ(o.x, c.x) << c.orientation;
    EXPECT_EQ(o.y[kTopLeft], c.x[kTopLeft] + 100) << c.orientation;
  }
}

// A display turned by 180 degrees: the frame measures the bottom-right target where the screen
// shows the top-left one. Turned back, the result is that of the unturned ideal grid, on every
// operating-system class.
TEST(Border, HalfTurnUndoesARotatedMeasurement) {
  std::array<uint16_t, 9> rx{}, ry{};
  for (int i = 0; i < 9; ++i) {
    rx[i] = static_cast<uint16_t>(1024 - kGridX[i]);
    ry[i] = static_cast<uint16_t>(1024 - kGridY[i]);
  }
  for (int osClass : {0, 3, 6}) {
    const CalibrationResult r = ComputeCalibration(Grid9(rx, ry, 2, osClass));
    EXPECT_EQ(r.bx, kIdealBorderX) << osClass;
    EXPECT_EQ(r.by, kIdealBorderY) << osClass;
  }
  const CalibrationResult five =
      ComputeCalibration(Grid5({512, 992, 32, 32, 992}, {512, 992, 992, 32, 32}, 2));
  EXPECT_EQ(five.bx, kIdealBorderX);
  EXPECT_EQ(five.by, kIdealBorderY);
}

TEST(Border, ResultsBeyond16BitsKeepTheirLowBits) {
  std::array<uint16_t, 9> rx{};
  rx[kRightCentre] = 65535;
  const CalibrationResult r = ComputeCalibration(Grid9(rx, {}, 0));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.bx[kRightCentre], 69904);  // 65535 + 4369
  EXPECT_EQ(r.bx[kTopRight], -4659);
  // BX[4] at bytes 16..17, BX[3] at 12..13.
  EXPECT_EQ(r.payload.bytes[16], 0x10);
  EXPECT_EQ(r.payload.bytes[17], 0x11);
  EXPECT_EQ(r.payload.bytes[12], 0xCD);
  EXPECT_EQ(r.payload.bytes[13], 0xED);
}

TEST(Modes, UnknownModeGivesNoResult) {
  for (int mode : {0, 1, 5, -3}) {
    CalibrationInput in = Grid9(kGridX, kGridY, 0);
    in.mode = mode;
    const CalibrationResult r = ComputeCalibration(in);
    EXPECT_FALSE(r.ok) << mode;
    EXPECT_EQ(r.payload.length, 0u) << mode;
  }
}

}  // namespace
}  // namespace tactra

#include "common/system_facts.h"

#include <gtest/gtest.h>

namespace tactra {
namespace {

TEST(WindowsClass, FromVersionRecord) {
  struct Case {
    VersionRecord version;
    int expected;
  };
  const Case cases[] = {
      {{false, 2, 6, 1}, 3},  // the query failed
      {{true, 1, 4, 10}, 0}, {{true, 1, 4, 90}, 0}, {{true, 2, 3, 51}, 1}, {{true, 2, 4, 0}, 1},
      {{true, 2, 5, 0}, 2},  {{true, 2, 5, 1}, 3},  {{true, 2, 5, 2}, 4},  {{true, 2, 5, 3}, 1},
      {{true, 2, 6, 0}, 5},  {{true, 2, 6, 1}, 6},  {{true, 2, 6, 3}, 6},  {{true, 2, 10, 0}, 6},
      {{true, 2, 7, 0}, 6},  {{true, 0, 6, 1}, 3},  {{true, 3, 10, 0}, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowsClassFromVersion(c.version), c.expected)
        << c.version.ok << " " << c.version.platformId << " " << c.version.major << "." << c.version.minor;
  }
}

TEST(DisplayOrientation, FromDisplayRecord) {
  struct Case {
    DisplayRecord display;
    int current, expected;
  };
  const Case cases[] = {
      {{true, 0}, 2, 0},  {{true, 1}, 0, 1},  {{true, 2}, 0, 2},
      {{true, 3}, 0, 3},  {{true, 4}, 3, 0},  {{true, 0xFFFFFFFF}, 1, 0},  // another value counts as 0
      {{false, 2}, 0, 0}, {{false, 2}, 3, 3},  // a failed query leaves it as it was
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OrientationFromDisplay(c.display, c.current), c.expected)
        << c.display.ok << " " << c.display.orientation << " " << c.current;
  }
}

}  // namespace
}  // namespace tactra

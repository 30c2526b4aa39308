// Owning handles: released exactly once, handed over by moving, never by copying.
#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

#include "ui/handles.h"

namespace tactra::ui {
namespace {

std::vector<int> closed;

struct CountingTraits {
  static void Close(int handle) { closed.push_back(handle); }
};
using Counted = UniqueHandle<int, CountingTraits>;

static_assert(!std::is_copy_constructible_v<Counted> && !std::is_copy_assignable_v<Counted>);
static_assert(!std::is_copy_constructible_v<PaintScope> && !std::is_copy_constructible_v<WindowTimer>);

TEST(UniqueHandle, ReleasedOnceThroughMovesResetsAndRelease) {
  closed.clear();
  {
    Counted a(7);
    Counted b(std::move(a));
    EXPECT_FALSE(a);
    Counted c(9);
    c = std::move(b);  // 9 goes, 7 moves in
    EXPECT_EQ(closed, std::vector<int>{9});
    c.reset(11);  // 7 goes
    Counted d(13);
    EXPECT_EQ(d.release(), 13);  // nobody closes 13
    Counted empty;
    empty.reset();
  }
  EXPECT_EQ(closed, (std::vector<int>{9, 7, 11}));
}

TEST(UniqueHandle, RealGdiObjectsAreDeleted) {
  HBRUSH raw = nullptr;
  {
    UniqueBrush brush(CreateSolidBrush(RGB(1, 2, 3)));
    raw = brush.get();
    ASSERT_NE(raw, nullptr);
    EXPECT_NE(GetObjectType(raw), 0u);
  }
  EXPECT_EQ(GetObjectType(raw), 0u) << "the brush was not deleted";
}

TEST(SelectGuard, PutsThePreviousObjectBack) {
  UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  HGDIOBJ before = GetCurrentObject(dc.get(), OBJ_PEN);
  UniquePen pen(CreatePen(PS_SOLID, 1, RGB(255, 0, 255)));
  {
    SelectGuard guard(dc.get(), pen.get());
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), pen.get());
  }
  EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), before);
}

}  // namespace
}  // namespace tactra::ui

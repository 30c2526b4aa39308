// Owning handles: released exactly once, handed over by moving, never by copying; null, and for
// files INVALID_HANDLE_VALUE too, own nothing.
#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

#include "common/win32/handles_win32.h"
#include "ui/scopes.h"

namespace tactra::win32 {
namespace {

std::vector<int> closed;

void CountClose(int handle) { closed.push_back(handle); }
using Counted = UniqueAny<int, CountClose>;

static_assert(!std::is_copy_constructible_v<Counted> && !std::is_copy_assignable_v<Counted>);
static_assert(!std::is_copy_constructible_v<ui::PaintScope> &&
              !std::is_copy_constructible_v<ui::WindowTimer>);

TEST(UniqueAny, ReleasedOnceThroughMovesResetsAndRelease) {
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

TEST(UniqueAny, WhatOwnsNothingByKind) {
  EXPECT_FALSE(UniqueFile(INVALID_HANDLE_VALUE)) << "a failed CreateFileW";
  EXPECT_FALSE(UniqueFile(nullptr));
  EXPECT_FALSE(UniqueHandle(nullptr)) << "a failed CreateEventW";
  // For kernel objects -1 is the current process's pseudo handle, not a failure.
  EXPECT_TRUE(UniqueHandle::IsValid(INVALID_HANDLE_VALUE));
}

TEST(UniqueAny, RealHandlesAreReleased) {
  HBRUSH rawBrush = nullptr;
  HANDLE rawEvent = nullptr;
  {
    UniqueBrush brush(CreateSolidBrush(RGB(1, 2, 3)));
    rawBrush = brush.get();
    ASSERT_NE(rawBrush, nullptr);
    EXPECT_NE(GetObjectType(rawBrush), 0u);
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    rawEvent = event.get();
    ASSERT_TRUE(event);
  }
  EXPECT_EQ(GetObjectType(rawBrush), 0u) << "the brush was not deleted";
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(rawEvent, &flags)) << "the event was not closed";
}

TEST(SelectGuard, PutsThePreviousObjectBack) {
  UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  HGDIOBJ before = GetCurrentObject(dc.get(), OBJ_PEN);
  UniquePen pen(CreatePen(PS_SOLID, 1, RGB(255, 0, 255)));
  {
    ui::SelectGuard guard(dc.get(), pen.get());
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), pen.get());
  }
  EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), before);
}

}  // namespace
}  // namespace tactra::win32

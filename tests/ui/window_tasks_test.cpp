// Work handed to a window's thread: run in order, never inside itself (a task that pumps
// messages, as a message box does, lets later tasks wait), bounded, and dropped after Detach.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "ui/window_tasks.h"

namespace tactra::ui {
namespace {

constexpr UINT kTasksMessage = WM_APP + 7;

// A message-only window whose procedure runs the tasks, as the programs' windows do.
class TaskWindow {
 public:
  TaskWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TactraTaskWindowTest";
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    tasks.Attach(window_);
  }
  ~TaskWindow() {
    tasks.Detach();
    DestroyWindow(window_);
  }
  // Handles what is queued for the window, as a modal loop would.
  void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  WindowTasks tasks{kTasksMessage};

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kTasksMessage) {
      reinterpret_cast<TaskWindow*>(GetWindowLongPtrW(w, GWLP_USERDATA))->tasks.RunPending();
      return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
  }
  HWND window_ = nullptr;
};

TEST(WindowTasks, RunInOrderAndNeverInsideThemselves) {
  TaskWindow w;
  std::vector<std::string> log;
  int depth = 0;
  int deepest = 0;
  const auto task = [&](std::string name, bool pumps) {
    return [&, name, pumps] {
      deepest = std::max(deepest, ++depth);
      log.push_back(name);
      // A box's loop dispatches the window's messages, the tasks' own among them.
      if (pumps) w.Pump();
      --depth;
    };
  };
  ASSERT_TRUE(w.tasks.Post(task("first, a box", true)));
  ASSERT_TRUE(w.tasks.Post(task("second, a box", true)));
  ASSERT_TRUE(w.tasks.Post(task("third", false)));
  w.Pump();
  EXPECT_EQ(log, (std::vector<std::string>{"first, a box", "second, a box", "third"}));
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(w.tasks.queued(), 0u);
}

// A thousand tasks from a worker in a burst: the queue takes its bound and refuses the rest
// without blocking, runs what it took, and takes more once it is drained.
TEST(WindowTasks, AFloodIsBoundedAndDrained) {
  TaskWindow w;
  int ran = 0;
  int accepted = 0;
  std::thread worker([&] {
    for (int i = 0; i < 1000; ++i) accepted += w.tasks.Post([&] { ++ran; }) ? 1 : 0;
  });
  worker.join();
  EXPECT_EQ(accepted, static_cast<int>(WindowTasks::kMaxQueued));
  EXPECT_EQ(w.tasks.queued(), WindowTasks::kMaxQueued);
  w.Pump();
  EXPECT_EQ(ran, accepted);
  EXPECT_TRUE(w.tasks.Post([&] { ++ran; }));
  w.Pump();
  EXPECT_EQ(ran, accepted + 1);
}

TEST(WindowTasks, NothingIsQueuedOrRunAfterDetach) {
  TaskWindow w;
  int ran = 0;
  ASSERT_TRUE(w.tasks.Post([&] { ++ran; }));
  w.tasks.Detach();
  EXPECT_FALSE(w.tasks.Post([&] { ++ran; }));
  w.Pump();
  w.tasks.RunPending();
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(w.tasks.queued(), 0u);
}

}  // namespace
}  // namespace tactra::ui

// Work that another thread hands to a window's thread: queued, then run by the window when the
// message it reserved arrives. Posting never blocks, so a worker that hands something over while
// the window is closing cannot deadlock with it, and after Detach nothing more is queued or run.
// The queue is bounded, and it never runs inside itself: a task that opens a message box lets
// the box's loop handle the window's messages, and what is queued meanwhile waits for the box.
#pragma once

#include <windows.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace tactra::ui {

// The message both programs reserve for the work their windows are handed.
constexpr UINT WM_WINDOW_TASKS = WM_APP + 1;

class WindowTasks {
 public:
  // More than this waiting means the other side floods the window: later tasks are dropped.
  static constexpr std::size_t kMaxQueued = 256;

  explicit WindowTasks(UINT message) : message_(message) {}
  WindowTasks(const WindowTasks&) = delete;
  WindowTasks& operator=(const WindowTasks&) = delete;

  // The window's thread, once the window exists.
  void Attach(HWND window);
  // The window's thread, before the window or what the tasks use goes: drops what is queued.
  void Detach();
  // Any thread. False when no window is attached or the task could not be queued (the queue
  // is full, or out of memory).
  bool Post(std::function<void()> task) noexcept;
  // The window's thread, on the tasks' message: runs what is queued, in order; nothing when called from
  // inside a task (the outer call goes on once that task returns).
  void RunPending();
  std::size_t queued();

 private:
  const UINT message_;
  std::mutex mutex_;
  HWND window_ = nullptr;
  bool running_ = false;  // the window's thread only
  std::deque<std::function<void()>> queue_;
};

}  // namespace tactra::ui

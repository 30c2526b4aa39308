// Work that another thread hands to a window's thread: queued, then run by the window when the
// message it reserved arrives. Posting never blocks, so a worker that hands something over while
// the window is closing cannot deadlock with it, and after Detach nothing more is queued or run.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

namespace tactra::ui {

class WindowTasks {
 public:
  explicit WindowTasks(UINT message) : message_(message) {}
  WindowTasks(const WindowTasks&) = delete;
  WindowTasks& operator=(const WindowTasks&) = delete;

  UINT message() const { return message_; }
  // The window's thread, once the window exists.
  void Attach(HWND window);
  // The window's thread, before the window or what the tasks use goes: drops what is queued.
  void Detach();
  // Any thread. False when no window is attached or the task could not be queued.
  bool Post(std::function<void()> task) noexcept;
  // The window's thread, on message(): runs what is queued, in order.
  void RunPending();

 private:
  const UINT message_;
  std::mutex mutex_;
  HWND window_ = nullptr;
  std::deque<std::function<void()>> queue_;
};

}  // namespace tactra::ui

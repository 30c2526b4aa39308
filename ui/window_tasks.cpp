#include "ui/window_tasks.h"

namespace tactra::ui {

void WindowTasks::Attach(HWND window) {
  std::lock_guard<std::mutex> lock(mutex_);
  window_ = window;
}

void WindowTasks::Detach() {
  std::deque<std::function<void()>> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  window_ = nullptr;
  dropped.swap(queue_);
}

bool WindowTasks::Post(std::function<void()> task) noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window_ == nullptr || queue_.size() >= kMaxQueued) return false;
    queue_.push_back(std::move(task));
    // One message per task; a message that cannot be posted leaves its task for the next one.
    PostMessageW(window_, message_, 0, 0);
    return true;
  } catch (...) {
    return false;  // out of memory: nothing may unwind into the caller's thread
  }
}

void WindowTasks::RunPending() {
  if (running_) return;
  running_ = true;
  struct Done {
    bool& running;
    ~Done() { running = false; }
  } done{running_};
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty() || window_ == nullptr) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

std::size_t WindowTasks::queued() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

}  // namespace tactra::ui

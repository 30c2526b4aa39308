// The window's queue for tests: tasks wait until the test runs them, as they wait on Windows
// until the window's thread handles its messages again.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "console/page_context.h"

namespace tactra::test {

class ManualWindowQueue : public console::WindowQueue {
 public:
  void Post(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  // Runs what is queued (and what that queues), in order; the number run.
  int RunAll() {
    int ran = 0;
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (tasks_.empty()) return ran;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
      ++ran;
    }
  }
  std::size_t Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tasks_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace tactra::test

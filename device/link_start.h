// A link's start on a thread of its own, begun before the program's window exists, so that the
// start's pauses cover the time the window takes to make. The window's thread takes the outcome
// once it listens for device notices: what the link reported meanwhile reaches the owner then,
// on that thread, and so do the arrivals and removals the notices came too late for.
#pragma once

#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "device/link.h"

namespace tactra {

class LinkStart {
 public:
  // `start` starts `link` (Link::Start, or the program's step around it); `owner` is the link's
  // owner from the start on.
  LinkStart(Link& link, LinkOwner& owner, std::function<bool()> start);
  ~LinkStart();  // waits for a start under way
  LinkStart(const LinkStart&) = delete;
  LinkStart& operator=(const LinkStart&) = delete;

  // Starts on a thread of its own and returns once the devices are found and the first
  // channel is open, so that the window is made during the start's pauses rather than beside
  // that opening; where no thread can be had, Finish starts instead.
  void Begin();
  // Waits for a start under way, for a window that never came to Finish.
  void Wait();
  // On the window's thread, once it listens for notices: waits for the start, hands the owner
  // what was held for that thread, calls `missed` with each notice that came before the
  // registration, and returns the start's outcome. Without Begin, starts here.
  bool Finish(const NoticeCallback& missed);

 private:
  // The owner meanwhile: replies and touch reports go on at once, link events wait.
  class Holder;

  Link& link_;
  LinkOwner& owner_;
  std::function<bool()> start_;
  std::unique_ptr<Holder> holder_;
  Event opened_;
  std::thread thread_;
  bool started_ = false;
};

}  // namespace tactra

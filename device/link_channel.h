// The link's records of its channels and workers and its call into the owner, shared by the
// link's own source files.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "device/event.h"
#include "device/hid_host.h"
#include "device/link.h"

namespace tactra {

// The path is written by Bind, which runs only while no worker runs; the handles by
// OpenChannel before the channel's own workers start, perhaps while other channels' workers run,
// which touch only their own channel.
struct Link::Channel {
  std::wstring path;                // empty while unbound
  std::unique_ptr<HidReader> read;  // null while unbound or when the open failed
  std::unique_ptr<HidWriter> write;
};

struct Link::Worker {
  bool reader = false;
  Event done;  // set by the worker as it ends
  std::thread thread;
};

// The one place where the link's threads call into its owner.
template <typename Call>
void Link::CallOwner(Call&& call) {
  LinkOwner* owner = owner_.load();
  if (owner == nullptr) return;
  try {
    call(*owner);
  } catch (...) {
    // A handler's failure is the handler's: the worker goes on reading.
  }
}

}  // namespace tactra

// The console's form of the link: one instance per process, created on first use over the host
// the program chose at start, alive until the process ends. It has no base class; the link it
// holds does the work.
#pragma once

#include <memory>
#include <utility>

#include "device/hid_host.h"
#include "device/link.h"

namespace tactra {

// Defined by the program that uses the instance: the host it talks to the frame through, never
// null.
std::unique_ptr<HidHost> CreateProcessHost();

class CUSBTransfer {
 public:
  // Made by the first call over the host the program chooses (CreateProcessHost).
  static CUSBTransfer& GetInstance();
  virtual ~CUSBTransfer();
  CUSBTransfer(const CUSBTransfer&) = delete;
  CUSBTransfer& operator=(const CUSBTransfer&) = delete;

  // What the console's window does with the link itself; the pages go through link().
  void SetOwner(LinkOwner* owner) { link_.SetOwner(owner); }
  void StopWorkers() { link_.StopWorkers(); }
  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void* window, NoticeCallback callback) {
    return link_.RegisterArrivalNotifications(window, std::move(callback));
  }
  // The link itself, for the pages that send through its port.
  Link& link() { return link_; }

 private:
  explicit CUSBTransfer(std::unique_ptr<HidHost> host);
  std::unique_ptr<HidHost> host_;  // declared before the link, which uses it
  Link link_;
};

}  // namespace tactra

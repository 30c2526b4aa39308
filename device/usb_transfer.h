// The console's form of the link: one instance per process, created on first use over the host
// the program chose at start, alive until the process ends. It has no base class; the link it
// holds does the work.
#pragma once

#include <memory>
#include <string>

#include "device/hid_host.h"
#include "device/link.h"

namespace tactra {

class CUSBTransfer {
 public:
  // The host of the instance, called once by the first GetInstance. A program sets it before
  // then; without one the link finds nothing.
  static void SetHostFactory(HidHostFactory factory);
  static CUSBTransfer& GetInstance();
  virtual ~CUSBTransfer();
  CUSBTransfer(const CUSBTransfer&) = delete;
  CUSBTransfer& operator=(const CUSBTransfer&) = delete;

  void SetOwner(LinkOwner* owner) { link_.SetOwner(owner); }
  int Open() { return link_.Open(); }
  bool Start() { return link_.Start(); }
  void StopWorkers() { link_.StopWorkers(); }
  int GetLinkState() const { return link_.GetLinkState(); }
  void SetLinkState(int state) { link_.SetLinkState(state); }
  bool HasDevices() const { return link_.HasDevices(); }
  int GetOutputLength(int channel) const { return link_.GetOutputLength(channel); }
  bool IsBoundPath(const std::wstring& path) const { return link_.IsBoundPath(path); }
  bool Write(int channel, const uint8_t* buffer, std::size_t length) {
    return link_.Write(channel, buffer, length);
  }
  bool Transact(int channel, const uint8_t* buffer, std::size_t length) {
    return link_.Transact(channel, buffer, length);
  }
  NoticeOutcome OnDeviceNotice(DeviceNotice notice, const std::wstring& path) {
    return link_.OnDeviceNotice(notice, path);
  }
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

#include "device/usb_transfer.h"

namespace tactra {

CUSBTransfer::CUSBTransfer(std::unique_ptr<HidHost> host)
    : host_(std::move(host)), link_(*host_, ConsoleLinkConfig()) {}

CUSBTransfer::~CUSBTransfer() = default;

CUSBTransfer& CUSBTransfer::GetInstance() {
  static CUSBTransfer instance(CreateProcessHost());
  return instance;
}

}  // namespace tactra

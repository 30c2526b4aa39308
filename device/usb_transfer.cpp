#include "device/usb_transfer.h"

namespace tactra {

namespace {

HidHostFactory g_hostFactory = nullptr;

}  // namespace

void CUSBTransfer::SetHostFactory(HidHostFactory factory) { g_hostFactory = factory; }

CUSBTransfer::CUSBTransfer(std::unique_ptr<HidHost> host)
    : host_(host ? std::move(host) : CreateAbsentHidHost()), link_(*host_, ConsoleLinkConfig()) {}

CUSBTransfer::~CUSBTransfer() = default;

CUSBTransfer& CUSBTransfer::GetInstance() {
  static CUSBTransfer instance(g_hostFactory ? g_hostFactory() : nullptr);
  return instance;
}

}  // namespace tactra

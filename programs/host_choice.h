// The composition step of each program: the host it talks to the frame through.
#pragma once

#include <memory>

#include "device/hid_host.h"

namespace tactra {

// The simulated frame when TACTRA_FRAME_SIM=host:port is set, otherwise the host `system`
// makes; never null (a host without devices when there is none), so nothing after it checks.
std::unique_ptr<HidHost> ChooseHidHost(HidHostFactory system);

}  // namespace tactra

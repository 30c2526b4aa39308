#include "programs/host_choice.h"

#include "sim/sim_hid_host.h"

namespace tactra {

std::unique_ptr<HidHost> ChooseHidHost(HidHostFactory system) {
  if (std::unique_ptr<HidHost> simulated = sim::CreateSimHidHostFromEnvironment()) return simulated;
  std::unique_ptr<HidHost> host = system ? system() : nullptr;
  return host ? std::move(host) : CreateAbsentHidHost();
}

}  // namespace tactra

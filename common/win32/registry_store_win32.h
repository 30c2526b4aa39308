// The settings store over the Windows registry (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER).
#pragma once

#include <memory>

#include "common/settings_store.h"

namespace tactra {

std::unique_ptr<SettingsStore> CreateRegistryStore();

}  // namespace tactra

#include "common/settings_store.h"

namespace tactra {

SettingsRead ReadOrCreate(SettingsStore& store, Hive hive, const std::wstring& path, DwordSetting* settings,
                          std::size_t count) {
  bool created = false;
  std::unique_ptr<SettingsKey> key = store.CreateOrOpen(hive, path, created);
  if (!key) return {SettingsRead::KeyFailed};
  for (std::size_t i = 0; i < count; ++i) {
    DwordSetting& s = settings[i];
    if (created ? !key->WriteDword(s.name, s.value) : !key->ReadDword(s.name, s.value))
      return {created ? SettingsRead::WriteFailed : SettingsRead::ReadFailed, s.name};
  }
  return {created ? SettingsRead::Created : SettingsRead::Read};
}

}  // namespace tactra

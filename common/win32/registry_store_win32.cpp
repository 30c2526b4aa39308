#include "common/win32/registry_store_win32.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/win32/handles_win32.h"

namespace tactra {

namespace {

using win32::UniqueHkey;

HKEY Root(Hive hive) { return hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

class RegistryKey : public SettingsKey {
 public:
  explicit RegistryKey(UniqueHkey key) : key_(std::move(key)) {}

  bool ReadDword(const std::wstring& name, uint32_t& value) override {
    // The narrow call, as for any number: a string value then arrives as its narrow text, so a
    // short one still fits the 4-byte buffer. Value names are ASCII.
    std::string narrow;
    for (wchar_t c : name) {
      if (c > 0x7F) return false;
      narrow.push_back(static_cast<char>(c));
    }
    BYTE data[4] = {};
    DWORD size = sizeof(data);
    // Longer data fails with ERROR_MORE_DATA; shorter data fills the low bytes.
    if (RegQueryValueExA(key_.get(), narrow.c_str(), nullptr, nullptr, data, &size) != ERROR_SUCCESS)
      return false;
    value = uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24;
    return true;
  }

  bool ReadString(const std::wstring& name, std::size_t capacity, std::wstring& value) override {
    if (capacity == 0 || capacity > 0x7FFFFFFF / sizeof(wchar_t)) return false;
    std::vector<wchar_t> buffer(capacity, L'\0');
    DWORD size = static_cast<DWORD>(capacity * sizeof(wchar_t));
    // Whatever the stored type, what fits the buffer is taken as text.
    if (RegQueryValueExW(key_.get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS) {
      return false;
    }
    // The stored data need not be terminated: look for the end only within what was read,
    // and refuse data that fills the buffer without leaving room for the terminator.
    const std::size_t units = std::min<std::size_t>(size / sizeof(wchar_t), capacity);
    const std::size_t length = std::find(buffer.begin(), buffer.begin() + units, L'\0') - buffer.begin();
    if (length == units && length >= capacity) return false;
    value.assign(buffer.data(), length);
    return true;
  }

  bool WriteDword(const std::wstring& name, uint32_t value) override {
    const DWORD data = value;
    return RegSetValueExW(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof(data)) == ERROR_SUCCESS;
  }

  bool WriteString(const std::wstring& name, const std::wstring& value) override {
    const std::size_t bytes = (value.size() + 1) * sizeof(wchar_t);  // with the terminator
    if (bytes > 0x7FFFFFFF) return false;
    return RegSetValueExW(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(bytes)) == ERROR_SUCCESS;
  }

  Deletion DeleteValue(const std::wstring& name) override {
    const LSTATUS status = RegDeleteValueW(key_.get(), name.c_str());
    if (status == ERROR_SUCCESS) return Deletion::Deleted;
    return status == ERROR_FILE_NOT_FOUND ? Deletion::Absent : Deletion::Failed;
  }

 private:
  UniqueHkey key_;
};

class RegistryStore : public SettingsStore {
 public:
  std::unique_ptr<SettingsKey> CreateOrOpen(Hive hive, const std::wstring& path, bool& created) override {
    created = false;
    HKEY key = nullptr;
    DWORD disposition = 0;
    wchar_t emptyClass[] = L"";
    if (RegCreateKeyExW(Root(hive), path.c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, &disposition) != ERROR_SUCCESS) {
      return nullptr;
    }
    UniqueHkey owned(key);
    created = disposition == REG_CREATED_NEW_KEY;
    return std::make_unique<RegistryKey>(std::move(owned));
  }

  std::unique_ptr<SettingsKey> Open(Hive hive, const std::wstring& path) override {
    return OpenWith(hive, path, KEY_ALL_ACCESS);
  }

  std::unique_ptr<SettingsKey> OpenForWriting(Hive hive, const std::wstring& path) override {
    return OpenWith(hive, path, KEY_WRITE);
  }

 private:
  static std::unique_ptr<SettingsKey> OpenWith(Hive hive, const std::wstring& path, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(Root(hive), path.c_str(), 0, access, &key) != ERROR_SUCCESS) return nullptr;
    return std::make_unique<RegistryKey>(UniqueHkey(key));
  }
};

}  // namespace

std::unique_ptr<SettingsStore> CreateRegistryStore() { return std::make_unique<RegistryStore>(); }

}  // namespace tactra

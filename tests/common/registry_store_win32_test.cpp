// The registry adapter against the real (Wine) registry: the contract every settings store
// keeps; and the version and display queries.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/win32/registry_store_win32.h"
#include "common/win32/system_facts_win32.h"
#include "tests/common/settings_store_contract.h"

namespace tactra {
namespace {

const wchar_t kTestRoot[] = L"Software\\TactraTest";
const wchar_t kTestKey[] = L"Software\\TactraTest\\Store";

// The contract every store keeps, in a test key of the current user that is made anew for each
// case and must be gone after it.
class RegistrySubject : public contract::StoreSubject {
 public:
  RegistrySubject() : store_(CreateRegistryStore()) { RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot); }
  ~RegistrySubject() override {
    store_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
    HKEY left = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_READ, &left), ERROR_SUCCESS)
        << "test key left";
    if (left) RegCloseKey(left);
  }
  RegistrySubject(const RegistrySubject&) = delete;
  RegistrySubject& operator=(const RegistrySubject&) = delete;

  SettingsStore& Store() override { return *store_; }
  Hive TestHive() const override { return Hive::CurrentUser; }
  std::wstring TestPath() const override { return kTestKey; }
  void PutRaw(const std::wstring& name, StoredType type, const std::vector<uint8_t>& data) override {
    const DWORD regType = type == StoredType::String  ? REG_SZ
                          : type == StoredType::Dword ? REG_DWORD
                                                      : REG_BINARY;
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, regType, data.data(), static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

 private:
  std::unique_ptr<SettingsStore> store_;
};

using contract::SettingsStoreContract;
INSTANTIATE_TEST_SUITE_P(RegistryStore, SettingsStoreContract,
                         ::testing::Values(contract::StoreFactory{
                             "Registry", [] { return std::make_unique<RegistrySubject>(); }}),
                         contract::FactoryName);

// The version the system keeps in its registry, as a second witness beside the version call:
// the numbers of Windows 10 and later, else the "major.minor" text.
bool RegistryVersion(unsigned& major, unsigned& minor) {
  const wchar_t* key = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"CurrentMajorVersionNumber", RRF_RT_REG_DWORD, nullptr, &value,
                   &size) == ERROR_SUCCESS &&
      value >= 10) {
    major = value;
    size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"CurrentMinorVersionNumber", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
      return false;
    minor = value;
    return true;
  }
  wchar_t text[16] = {};
  size = sizeof text;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"CurrentVersion", RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS)
    return false;
  return swscanf(text, L"%u.%u", &major, &minor) == 2;
}

TEST(SystemFacts, ClassOfTheRunningSystemAndAnUnturnedDisplay) {
  unsigned major = 0, minor = 0;
  ASSERT_TRUE(RegistryVersion(major, minor));
  const VersionRecord version = QueryVersionRecord();
  ASSERT_TRUE(version.ok);
  EXPECT_EQ(version.platformId, 2u);
  EXPECT_EQ(version.major, major);
  EXPECT_EQ(version.minor, minor);
  // The classes of the NT versions a prefix can be set to.
  struct Known {
    unsigned major, minor;
    int osClass;
  };
  const Known known[] = {{5, 0, 2}, {5, 1, 3}, {5, 2, 4}, {6, 0, 5},
                         {6, 1, 6}, {6, 2, 6}, {6, 3, 6}, {10, 0, 6}};
  int expected = -1;
  for (const Known& k : known) {
    if (k.major == major && k.minor == minor) expected = k.osClass;
  }
  ASSERT_NE(expected, -1) << "no class known for " << major << "." << minor;
  EXPECT_EQ(DetectWindowsClass(), expected) << major << "." << minor;
  std::printf("version %u.%u: class %d\n", major, minor, expected);

  // Wine on a virtual X screen shows it unturned; the orientation the caller had is replaced.
  const DisplayRecord display = QueryDisplayRecord();
  EXPECT_TRUE(display.ok);
  EXPECT_EQ(display.orientation, 0u);
  for (int current : {1, 2, 3}) EXPECT_EQ(DetectDisplayOrientation(current), 0) << current;
}

}  // namespace
}  // namespace tactra

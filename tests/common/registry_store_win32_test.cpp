// The registry adapter against the real (Wine) registry, in a test key of the current user,
// and the version and display queries.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/win32/registry_store_win32.h"
#include "common/win32/system_facts_win32.h"

namespace tactra {
namespace {

const wchar_t kTestRoot[] = L"Software\\TactraTest";
const wchar_t kTestKey[] = L"Software\\TactraTest\\Store";

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
    store_ = CreateRegistryStore();
    ASSERT_NE(store_, nullptr);
  }
  void TearDown() override {
    store_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
    HKEY left = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_READ, &left), ERROR_SUCCESS)
        << "test key left";
    if (left) RegCloseKey(left);
  }

  std::unique_ptr<SettingsKey> CreateKey() {
    bool created = false;
    return store_->CreateOrOpen(Hive::CurrentUser, kTestKey, created);
  }

  // Stores data as it stands, for example a string without its terminator.
  void PutRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
  }

  std::unique_ptr<SettingsStore> store_;
};

TEST_F(RegistryStoreTest, CreateOrOpenReportsNewAndExistingKeys) {
  EXPECT_EQ(store_->Open(Hive::CurrentUser, kTestKey), nullptr);
  bool created = false;
  EXPECT_NE(store_->CreateOrOpen(Hive::CurrentUser, kTestKey, created), nullptr);
  EXPECT_TRUE(created);
  created = true;
  EXPECT_NE(store_->CreateOrOpen(Hive::CurrentUser, kTestKey, created), nullptr);
  EXPECT_FALSE(created);
  EXPECT_NE(store_->Open(Hive::CurrentUser, kTestKey), nullptr);
}

TEST_F(RegistryStoreTest, ValuesRoundTrip) {
  auto key = CreateKey();
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->WriteDword(L"Language", 0x12345601));
  ASSERT_TRUE(key->WriteString(L"Speed", L"600"));
  ASSERT_TRUE(key->WriteString(L"Name", L"中文"));
  // Read back through a second handle, as the next start of a program would.
  auto again = store_->Open(Hive::CurrentUser, kTestKey);
  ASSERT_NE(again, nullptr);
  uint32_t dword = 0;
  EXPECT_TRUE(again->ReadDword(L"Language", dword));
  EXPECT_EQ(dword, 0x12345601u);
  std::wstring text;
  EXPECT_TRUE(again->ReadString(L"Speed", 4, text));
  EXPECT_EQ(text, L"600");
  EXPECT_TRUE(again->ReadString(L"Name", 3, text));
  EXPECT_EQ(text, L"中文");
}

TEST_F(RegistryStoreTest, BoundedReadsFailRatherThanOverrun) {
  auto key = CreateKey();
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->WriteString(L"Height", L"1000"));
  PutRaw(L"FourBare", REG_SZ, L"4444", 8);  // no terminator, exactly fills four characters
  PutRaw(L"TwoBare", REG_SZ, L"44", 4);
  const BYTE five[5] = {1, 0, 0, 0, 0};
  PutRaw(L"Five", REG_BINARY, five, sizeof(five));
  const BYTE one[1] = {7};
  PutRaw(L"One", REG_BINARY, one, sizeof(one));

  std::wstring text = L"unchanged";
  EXPECT_FALSE(key->ReadString(L"Height", 4, text));
  EXPECT_FALSE(key->ReadString(L"FourBare", 4, text));
  EXPECT_EQ(text, L"unchanged");
  EXPECT_TRUE(key->ReadString(L"FourBare", 5, text));
  EXPECT_EQ(text, L"4444");
  EXPECT_TRUE(key->ReadString(L"TwoBare", 4, text));
  EXPECT_EQ(text, L"44");
  EXPECT_FALSE(key->ReadString(L"Missing", 4, text));

  uint32_t dword = 99;
  EXPECT_FALSE(key->ReadDword(L"Five", dword));
  EXPECT_TRUE(key->ReadDword(L"One", dword));
  EXPECT_EQ(dword, 7u);
  EXPECT_FALSE(key->ReadDword(L"Missing", dword));
}

TEST_F(RegistryStoreTest, NumbersAndTextsAreReadWhateverTheStoredType) {
  auto key = CreateKey();
  ASSERT_NE(key, nullptr);
  // A Language value stored as text: its wide form (6 bytes) would not fit 4, its narrow one does.
  ASSERT_TRUE(key->WriteString(L"Two", L"12"));
  ASSERT_TRUE(key->WriteString(L"Four", L"1234"));
  ASSERT_TRUE(key->WriteDword(L"Number", 8));
  uint32_t dword = 99;
  EXPECT_TRUE(key->ReadDword(L"Two", dword));
  EXPECT_EQ(dword, 0x3231u) << "'1', '2' and the terminator";
  EXPECT_FALSE(key->ReadDword(L"Four", dword)) << "five narrow bytes";
  // A mouse setting stored as a number is read as the text its bytes make.
  std::wstring text;
  EXPECT_TRUE(key->ReadString(L"Number", 4, text));
  EXPECT_EQ(text, L"\x08");
}

TEST_F(RegistryStoreTest, DeletionOfAMissingValueFails) {
  auto key = CreateKey();
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->WriteDword(L"Gone", 1));
  EXPECT_EQ(key->DeleteValue(L"Gone"), Deletion::Deleted);
  EXPECT_EQ(key->DeleteValue(L"Gone"), Deletion::Absent);
  uint32_t dword = 0;
  EXPECT_FALSE(key->ReadDword(L"Gone", dword));
}

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

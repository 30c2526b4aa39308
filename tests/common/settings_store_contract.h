// What every settings store does alike, run against each of them: the in-memory store natively,
// the registry adapter under Wine against the real registry. A store's own test file instantiates
// the suite with a factory of its subject and keeps only what is particular to that store; tests
// of the programs over the memory store thereby say something about the programs on Windows.
// Include it in one file per test program.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/settings_store.h"
#include "tests/fakes/memory_settings_store.h"

namespace tactra::contract {

// One store with a test key of its own that is not there yet, nor its parent.
class StoreSubject {
 public:
  virtual ~StoreSubject() = default;
  virtual SettingsStore& Store() = 0;
  virtual Hive TestHive() const = 0;
  // Two levels at least, so that the parent is made with the key.
  virtual std::wstring TestPath() const = 0;
  // Stores data as it stands in the test key (made as needed), for example a string without its
  // terminator, past the store.
  virtual void PutRaw(const std::wstring& name, StoredType type, const std::vector<uint8_t>& data) = 0;
};

struct StoreFactory {
  const char* name;  // the instantiation's name in the test names
  std::function<std::unique_ptr<StoreSubject>()> make;
};

inline std::string FactoryName(const ::testing::TestParamInfo<StoreFactory>& info) { return info.param.name; }
// A failure names the store, not the factory's bytes.
inline void PrintTo(const StoreFactory& factory, std::ostream* os) { *os << factory.name; }

class SettingsStoreContract : public ::testing::TestWithParam<StoreFactory> {
 protected:
  void SetUp() override {
    subject_ = GetParam().make();
    ASSERT_NE(subject_, nullptr);
    hive_ = subject_->TestHive();
    path_ = subject_->TestPath();
  }
  void TearDown() override { subject_.reset(); }

  SettingsStore& Store() { return subject_->Store(); }
  Hive OtherHive() const { return hive_ == Hive::LocalMachine ? Hive::CurrentUser : Hive::LocalMachine; }
  std::unique_ptr<SettingsKey> CreateKey() {
    bool created = false;
    return Store().CreateOrOpen(hive_, path_, created);
  }

  void PutRaw(const std::wstring& name, StoredType type, const std::vector<uint8_t>& data) {
    subject_->PutRaw(name, type, data);
  }
  // As the programs store them: a number as four bytes, a string with its terminator.
  void PutDword(const std::wstring& name, uint32_t value) {
    PutRaw(name, StoredType::Dword,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)});
  }
  void PutString(const std::wstring& name, const std::wstring& value) {
    PutRaw(name, StoredType::String, MemorySettingsStore::Utf16Data(value, true));
  }

  std::unique_ptr<StoreSubject> subject_;
  Hive hive_ = Hive::CurrentUser;
  std::wstring path_;
};

TEST_P(SettingsStoreContract, CreateOrOpenReportsNewAndExistingKeys) {
  EXPECT_EQ(Store().Open(hive_, path_), nullptr);
  bool created = false;
  ASSERT_NE(Store().CreateOrOpen(hive_, path_, created), nullptr);
  EXPECT_TRUE(created);
  EXPECT_NE(Store().Open(hive_, path_.substr(0, path_.rfind(L'\\'))), nullptr)
      << "parents are created with the key";
  created = true;
  ASSERT_NE(Store().CreateOrOpen(hive_, path_, created), nullptr);
  EXPECT_FALSE(created);
  std::wstring otherCase = path_;
  for (wchar_t& c : otherCase) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  created = true;
  ASSERT_NE(Store().CreateOrOpen(hive_, otherCase, created), nullptr);
  EXPECT_FALSE(created) << "paths compare without case";
  EXPECT_NE(Store().Open(hive_, path_), nullptr);
  EXPECT_EQ(Store().Open(OtherHive(), path_), nullptr) << "hives are apart";
}

TEST_P(SettingsStoreContract, ValuesRoundTrip) {
  auto key = CreateKey();
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->WriteDword(L"Language", 0x12345601));
  ASSERT_TRUE(key->WriteString(L"Speed", L"600"));
  ASSERT_TRUE(key->WriteString(L"Name", L"中文"));
  // Read back through a second handle, as the next start of a program would.
  auto again = Store().Open(hive_, path_);
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

// Numbers are read as into a 4-byte buffer, whatever the stored type.
TEST_P(SettingsStoreContract, DwordReadsAsIntoAFourByteBuffer) {
  auto key = CreateKey();
  ASSERT_NE(key, nullptr);
  PutDword(L"Language", 0x01020304);
  PutRaw(L"Short", StoredType::Binary, {0x07});
  PutRaw(L"Long", StoredType::Binary, {1, 0, 0, 0, 0});
  // A string arrives as its narrow text with the terminator, as the narrow call reads it: a
  // Language value stored as text whose wide form (6 bytes) would not fit 4, its narrow one does.
  PutString(L"Text3", L"123");
  PutString(L"Text4", L"1234");
  ASSERT_TRUE(key->WriteString(L"Two", L"12"));
  ASSERT_TRUE(key->WriteString(L"Four", L"1234"));
  struct Case {
    const wchar_t* name;
    bool ok;
    uint32_t value;
  };
  const Case cases[] = {
      {L"language", true, 0x01020304u},  // names compare without case
      {L"Short", true, 7u},
      {L"Long", false, 0},
      {L"Missing", false, 0},
      {L"Text3", true, 0x00333231u},
      {L"Text4", false, 0},
      {L"Two", true, 0x3231u},  // '1', '2' and the terminator
      {L"Four", false, 0},      // five narrow bytes
  };
  for (const Case& c : cases) {
    uint32_t v = 99;
    EXPECT_EQ(key->ReadDword(c.name, v), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.name;
    }
  }
}

// Texts are read into a buffer of a given number of characters and fail rather than overrun it.
TEST_P(SettingsStoreContract, StringsAreReadIntoABoundedBuffer) {
  auto key = CreateKey();
  ASSERT_NE(key, nullptr);
  PutString(L"Three", L"abc");
  PutString(L"Four", L"abcd");
  PutRaw(L"ThreeBare", StoredType::String, MemorySettingsStore::Utf16Data(L"abc", false));
  PutRaw(L"FourBare", StoredType::String, MemorySettingsStore::Utf16Data(L"abcd", false));
  PutRaw(L"TwoBare", StoredType::String, MemorySettingsStore::Utf16Data(L"44", false));
  PutRaw(L"Inner", StoredType::String, MemorySettingsStore::Utf16Data(std::wstring(L"a\0b", 3), true));
  PutRaw(L"Odd", StoredType::String, {'a', 0, 'b'});
  PutDword(L"Number", 5);
  PutString(L"Chinese", L"中文");
  ASSERT_TRUE(key->WriteString(L"Height", L"1000"));
  // A mouse setting stored as a number is read as the text its bytes make.
  ASSERT_TRUE(key->WriteDword(L"Eight", 8));
  struct Case {
    const wchar_t* name;
    std::size_t capacity;
    bool ok;
    std::wstring value;
  };
  const Case cases[] = {
      {L"Three", 4, true, L"abc"},     {L"Four", 4, false, L""},      {L"Four", 5, true, L"abcd"},
      {L"ThreeBare", 4, true, L"abc"}, {L"FourBare", 4, false, L""},  {L"FourBare", 5, true, L"abcd"},
      {L"TwoBare", 4, true, L"44"},    {L"Height", 4, false, L""},    {L"Inner", 4, true, L"a"},
      {L"Odd", 4, true, L"a"},         {L"Number", 4, true, L"\x05"}, {L"Eight", 4, true, L"\x08"},
      {L"Missing", 4, false, L""},     {L"Three", 0, false, L""},     {L"Chinese", 3, true, L"中文"},
  };
  for (const Case& c : cases) {
    std::wstring value = L"unchanged";
    EXPECT_EQ(key->ReadString(c.name, c.capacity, value), c.ok) << c.name << " " << c.capacity;
    EXPECT_EQ(value, c.ok ? c.value : L"unchanged") << c.name << " " << c.capacity;
  }
}

TEST_P(SettingsStoreContract, DeletionOfAMissingValueIsToldApart) {
  auto key = CreateKey();
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->WriteDword(L"Gone", 1));
  EXPECT_EQ(key->DeleteValue(L"gone"), Deletion::Deleted) << "names compare without case";
  EXPECT_EQ(key->DeleteValue(L"Gone"), Deletion::Absent) << "the value is gone already";
  uint32_t dword = 0;
  EXPECT_FALSE(key->ReadDword(L"Gone", dword));
}

}  // namespace tactra::contract

// The in-memory settings store behaves as the registry adapter does, so that tests over it
// say something about the programs on Windows.
#include "tests/fakes/memory_settings_store.h"

#include <gtest/gtest.h>

namespace tactra {
namespace {

const Hive kMachine = Hive::LocalMachine;
const wchar_t kPath[] = L"Software\\Tactra\\GlobalSettings";

TEST(MemoryStore, CreateOrOpenReportsNewAndExistingKeys) {
  MemorySettingsStore store;
  EXPECT_EQ(store.Open(kMachine, kPath), nullptr);
  bool created = false;
  ASSERT_NE(store.CreateOrOpen(kMachine, kPath, created), nullptr);
  EXPECT_TRUE(created);
  EXPECT_TRUE(store.HasKey(kMachine, L"Software\\Tactra")) << "parents are created with the key";
  ASSERT_NE(store.CreateOrOpen(kMachine, L"software\\TACTRA\\globalsettings", created), nullptr);
  EXPECT_FALSE(created) << "paths compare without case";
  EXPECT_NE(store.Open(kMachine, kPath), nullptr);
  EXPECT_EQ(store.Open(Hive::CurrentUser, kPath), nullptr) << "hives are apart";
}

TEST(MemoryStore, DwordReadsAsIntoAFourByteBuffer) {
  MemorySettingsStore store;
  store.PutDword(kMachine, kPath, L"Language", 0x01020304);
  store.PutRaw(kMachine, kPath, L"Short", StoredType::Binary, {0x07});
  store.PutRaw(kMachine, kPath, L"Long", StoredType::Binary, {1, 0, 0, 0, 0});
  auto key = store.Open(kMachine, kPath);
  ASSERT_NE(key, nullptr);
  uint32_t v = 99;
  EXPECT_TRUE(key->ReadDword(L"language", v));
  EXPECT_EQ(v, 0x01020304u);
  EXPECT_TRUE(key->ReadDword(L"Short", v));
  EXPECT_EQ(v, 7u);
  EXPECT_FALSE(key->ReadDword(L"Long", v));
  EXPECT_FALSE(key->ReadDword(L"Missing", v));
  // A string arrives as its narrow text with the terminator, as the narrow call reads it.
  store.PutString(kMachine, kPath, L"Text3", L"123");
  store.PutString(kMachine, kPath, L"Text4", L"1234");
  EXPECT_TRUE(key->ReadDword(L"Text3", v));
  EXPECT_EQ(v, 0x00333231u);
  EXPECT_FALSE(key->ReadDword(L"Text4", v));
}

TEST(MemoryStore, StringsAreReadIntoABoundedBuffer) {
  MemorySettingsStore store;
  auto raw = [&](const wchar_t* name, std::vector<uint8_t> data) {
    store.PutRaw(kMachine, kPath, name, StoredType::String, std::move(data));
  };
  store.PutString(kMachine, kPath, L"Three", L"abc");
  store.PutString(kMachine, kPath, L"Four", L"abcd");
  raw(L"ThreeBare", MemorySettingsStore::Utf16Data(L"abc", false));
  raw(L"FourBare", MemorySettingsStore::Utf16Data(L"abcd", false));
  raw(L"Inner", MemorySettingsStore::Utf16Data(std::wstring(L"a\0b", 3), true));
  raw(L"Odd", {'a', 0, 'b'});
  store.PutDword(kMachine, kPath, L"Number", 5);
  store.PutString(kMachine, kPath, L"Chinese", L"中文");
  auto key = store.Open(kMachine, kPath);
  ASSERT_NE(key, nullptr);
  struct Case {
    const wchar_t* name;
    std::size_t capacity;
    bool ok;
    std::wstring value;
  };
  const Case cases[] = {
      {L"Three", 4, true, L"abc"},     {L"Four", 4, false, L""},     {L"Four", 5, true, L"abcd"},
      {L"ThreeBare", 4, true, L"abc"}, {L"FourBare", 4, false, L""}, {L"FourBare", 5, true, L"abcd"},
      {L"Inner", 4, true, L"a"},       {L"Odd", 4, true, L"a"},      {L"Number", 4, true, L"\x05"},
      {L"Missing", 4, false, L""},     {L"Three", 0, false, L""},    {L"Chinese", 3, true, L"中文"},
  };
  for (const Case& c : cases) {
    std::wstring value = L"unchanged";
    EXPECT_EQ(key->ReadString(c.name, c.capacity, value), c.ok) << c.name << " " << c.capacity;
    EXPECT_EQ(value, c.ok ? c.value : L"unchanged") << c.name << " " << c.capacity;
  }
}

TEST(MemoryStore, WritesAndDeletionsAreRecordedInOrder) {
  MemorySettingsStore store;
  bool created = false;
  auto key = store.CreateOrOpen(kMachine, kPath, created);
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(key->WriteString(L"A", L"24"));
  EXPECT_TRUE(key->WriteDword(L"B", 2));
  EXPECT_EQ(key->DeleteValue(L"a"), Deletion::Deleted);
  EXPECT_EQ(key->DeleteValue(L"A"), Deletion::Absent) << "the value is gone already";
  ASSERT_EQ(store.Changes().size(), 3u);
  EXPECT_EQ(store.Changes()[0].op, SettingsOp::WriteString);
  EXPECT_EQ(store.Changes()[0].text, L"24");
  EXPECT_EQ(store.Changes()[1].op, SettingsOp::WriteDword);
  EXPECT_EQ(store.Changes()[1].dword, 2u);
  EXPECT_EQ(store.Changes()[2].op, SettingsOp::DeleteValue);
  EXPECT_FALSE(store.HasValue(kMachine, kPath, L"A"));
  EXPECT_EQ(store.GetDword(kMachine, kPath, L"B"), std::optional<uint32_t>(2));
  EXPECT_EQ(store.Calls(SettingsOp::DeleteValue), 2);
}

TEST(MemoryStore, FailuresHitOnlyTheNamedOperationAndValue) {
  MemorySettingsStore store;
  store.PutString(kMachine, kPath, L"A", L"1");
  store.PutString(kMachine, kPath, L"B", L"2");
  store.FailOn(SettingsOp::ReadString, L"b");
  store.FailOn(SettingsOp::Open, L"Other");
  auto key = store.Open(kMachine, kPath);
  ASSERT_NE(key, nullptr);
  std::wstring v;
  EXPECT_TRUE(key->ReadString(L"A", 4, v));
  EXPECT_FALSE(key->ReadString(L"B", 4, v));
  EXPECT_TRUE(key->WriteString(L"B", L"3")) << "other operations on the value still work";
  store.AddKey(kMachine, L"Other");
  EXPECT_EQ(store.Open(kMachine, L"Other"), nullptr);

  store.FailOn(SettingsOp::WriteString);  // every value
  EXPECT_FALSE(key->WriteString(L"C", L"x"));
  EXPECT_FALSE(store.HasValue(kMachine, kPath, L"C")) << "a failed write changes nothing";
  bool created = true;
  store.FailOn(SettingsOp::CreateOrOpen);
  EXPECT_EQ(store.CreateOrOpen(kMachine, L"New", created), nullptr);
  EXPECT_FALSE(store.HasKey(kMachine, L"New"));

  store.ClearFailures();
  EXPECT_TRUE(key->ReadString(L"B", 4, v));
  EXPECT_EQ(v, L"3");
  EXPECT_TRUE(key->WriteString(L"C", L"x"));
}

}  // namespace
}  // namespace tactra

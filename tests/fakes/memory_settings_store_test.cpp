// The in-memory settings store: the contract every store keeps (the registry adapter too), and
// what only this one does: it records changes and fails on demand.
#include "tests/fakes/memory_settings_store.h"

#include <gtest/gtest.h>

#include "tests/common/settings_store_contract.h"

namespace tactra {
namespace {

const Hive kMachine = Hive::LocalMachine;
const wchar_t kPath[] = L"Software\\Tactra\\GlobalSettings";

class MemorySubject : public contract::StoreSubject {
 public:
  SettingsStore& Store() override { return store_; }
  Hive TestHive() const override { return kMachine; }
  std::wstring TestPath() const override { return kPath; }
  void PutRaw(const std::wstring& name, StoredType type, const std::vector<uint8_t>& data) override {
    store_.PutRaw(kMachine, kPath, name, type, data);
  }

 private:
  MemorySettingsStore store_;
};

using contract::SettingsStoreContract;
INSTANTIATE_TEST_SUITE_P(MemoryStore, SettingsStoreContract,
                         ::testing::Values(contract::StoreFactory{
                             "Memory", [] { return std::make_unique<MemorySubject>(); }}),
                         contract::FactoryName);

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

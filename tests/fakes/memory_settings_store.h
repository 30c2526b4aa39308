// A settings store held in memory, for tests: keys and values as the registry keeps them
// (strings as UTF-16 data that need not be terminated), any operation made to fail on demand,
// and every successful change recorded in order.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/settings_store.h"

namespace tactra {

enum class SettingsOp {
  CreateOrOpen,
  Open,
  OpenForWriting,
  ReadDword,
  ReadString,
  WriteDword,
  WriteString,
  DeleteValue
};

enum class StoredType { String, Dword, Binary };

class MemorySettingsStore : public SettingsStore {
 public:
  struct Change {
    SettingsOp op;  // WriteDword, WriteString or DeleteValue
    Hive hive;
    std::wstring path;
    std::wstring name;
    uint32_t dword = 0;
    std::wstring text;
  };

  MemorySettingsStore();
  ~MemorySettingsStore() override;
  MemorySettingsStore(const MemorySettingsStore&) = delete;
  MemorySettingsStore& operator=(const MemorySettingsStore&) = delete;

  std::unique_ptr<SettingsKey> CreateOrOpen(Hive hive, const std::wstring& path, bool& created) override;
  std::unique_ptr<SettingsKey> Open(Hive hive, const std::wstring& path) override;
  std::unique_ptr<SettingsKey> OpenForWriting(Hive hive, const std::wstring& path) override;

  // Setting up a test; these are not recorded as changes and never fail. Keys and their
  // parents are created as needed.
  void AddKey(Hive hive, const std::wstring& path);
  void PutDword(Hive hive, const std::wstring& path, const std::wstring& name, uint32_t value);
  // Stored with its terminator, as the programs write strings.
  void PutString(Hive hive, const std::wstring& path, const std::wstring& name, const std::wstring& value);
  // Any data, for example a string stored without its terminator.
  void PutRaw(Hive hive, const std::wstring& path, const std::wstring& name, StoredType type,
              std::vector<uint8_t> data);

  // Inspecting a test's outcome.
  bool HasKey(Hive hive, const std::wstring& path) const;
  bool HasValue(Hive hive, const std::wstring& path, const std::wstring& name) const;
  std::optional<uint32_t> GetDword(Hive hive, const std::wstring& path, const std::wstring& name) const;
  std::optional<std::wstring> GetString(Hive hive, const std::wstring& path, const std::wstring& name) const;
  // Successful writes and deletions, in the order they happened.
  const std::vector<Change>& Changes() const;
  // Calls of an operation, failed ones included.
  int Calls(SettingsOp op) const;

  // From now on every call of `op` fails whose value name (for CreateOrOpen and Open: key
  // path) equals `name` regardless of case; an empty `name` fails every call of `op`.
  void FailOn(SettingsOp op, const std::wstring& name = L"");
  void ClearFailures();

  // UTF-16 little-endian data of a text, with or without the terminator.
  static std::vector<uint8_t> Utf16Data(const std::wstring& text, bool terminated);

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace tactra

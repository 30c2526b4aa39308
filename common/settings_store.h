// The settings-store seam: what the programs need of the registry. Windows: Reg*W. Tests: an
// in-memory store that can fail any operation on demand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tactra {

enum class Hive { LocalMachine, CurrentUser };

// What deleting a value came to: a value that was not there is not a failure to the caller
// that wants it gone, but it is told apart.
enum class Deletion { Deleted, Absent, Failed };

class SettingsKey {
 public:
  virtual ~SettingsKey() = default;
  // A number read into a 4-byte buffer as the narrow registry call reads it: a DWORD as it is,
  // a string as its narrow text with the terminator. Fails when missing or longer than 4 bytes.
  virtual bool ReadDword(const std::wstring& name, uint32_t& value) = 0;
  // A value read into a buffer of `capacity` characters as text, whatever its stored type;
  // fails when missing or when it does not fit with its terminator.
  virtual bool ReadString(const std::wstring& name, std::size_t capacity, std::wstring& value) = 0;
  virtual bool WriteDword(const std::wstring& name, uint32_t value) = 0;
  // Written as a zero-terminated string.
  virtual bool WriteString(const std::wstring& name, const std::wstring& value) = 0;
  virtual Deletion DeleteValue(const std::wstring& name) = 0;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Creates the key or opens it with full access; `created` tells which. Null on failure.
  virtual std::unique_ptr<SettingsKey> CreateOrOpen(Hive hive, const std::wstring& path, bool& created) = 0;
  // Opens an existing key with full access. Null on failure.
  virtual std::unique_ptr<SettingsKey> Open(Hive hive, const std::wstring& path) = 0;
  // Opens an existing key to write and delete values only (what a key of the system lets a
  // program do). Null on failure.
  virtual std::unique_ptr<SettingsKey> OpenForWriting(Hive hive, const std::wstring& path) = 0;
};

// A number setting of a key that is created when missing: `value` is written to a new key and
// read from an existing one.
struct DwordSetting {
  const wchar_t* name;
  uint32_t value;
};

// How reading (or first writing) a key's settings ended; `failed` names the value at fault.
struct SettingsRead {
  enum Outcome { Read, Created, KeyFailed, WriteFailed, ReadFailed } outcome;
  const wchar_t* failed = nullptr;
  bool ok() const { return outcome == Read || outcome == Created; }
};

// Creates or opens the key, then writes every setting to a new key or reads every setting of an
// existing one, in order, up to the first failure.
SettingsRead ReadOrCreate(SettingsStore& store, Hive hive, const std::wstring& path, DwordSetting* settings,
                          std::size_t count);

}  // namespace tactra

#include "tests/fakes/memory_settings_store.h"

#include <algorithm>
#include <utility>

namespace tactra {

namespace {

// Key paths and value names compare without regard to (ASCII) case, as in the registry.
std::wstring Fold(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

struct Value {
  std::wstring name;  // as first written
  StoredType type = StoredType::Binary;
  std::vector<uint8_t> data;
};

struct Key {
  std::map<std::wstring, Value> values;  // by folded name
};

using KeyId = std::pair<Hive, std::wstring>;  // folded path

std::vector<uint16_t> Units(const std::vector<uint8_t>& data) {
  std::vector<uint16_t> units(data.size() / 2);
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return units;
}

std::wstring Decode(const std::vector<uint16_t>& units, std::size_t count) {
  std::wstring out;
  for (std::size_t i = 0; i < count; ++i) {
    const uint32_t u = units[i];
    if constexpr (sizeof(wchar_t) == 4) {
      if (u >= 0xD800 && u < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00)));
        ++i;
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(u));
  }
  return out;
}

// UTF-16 data as the narrow registry call returns it: one byte per unit (ASCII here), with a
// terminator added when the data had none.
std::vector<uint8_t> NarrowText(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  for (uint16_t unit : Units(data)) out.push_back(unit <= 0x7F ? static_cast<uint8_t>(unit) : '?');
  if (out.empty() || out.back() != 0) out.push_back(0);
  return out;
}

}  // namespace

struct MemorySettingsStore::State {
  std::map<KeyId, Key> keys;
  std::vector<std::pair<SettingsOp, std::wstring>> failures;  // folded names
  std::vector<Change> changes;
  std::map<SettingsOp, int> calls;

  // Counts the call and tells whether it is to fail.
  bool Fails(SettingsOp op, const std::wstring& name) {
    ++calls[op];
    const std::wstring folded = Fold(name);
    return std::any_of(failures.begin(), failures.end(), [&](const auto& f) {
      return f.first == op && (f.second.empty() || f.second == folded);
    });
  }

  Key& Make(Hive hive, const std::wstring& path) {
    const std::wstring folded = Fold(path);
    for (std::size_t pos = folded.find(L'\\'); pos != std::wstring::npos; pos = folded.find(L'\\', pos + 1)) {
      keys[{hive, folded.substr(0, pos)}];
    }
    return keys[{hive, folded}];
  }

  Key* Find(Hive hive, const std::wstring& path) {
    auto it = keys.find({hive, Fold(path)});
    return it == keys.end() ? nullptr : &it->second;
  }

  const Value* FindValue(Hive hive, const std::wstring& path, const std::wstring& name) {
    Key* key = Find(hive, path);
    if (!key) return nullptr;
    auto it = key->values.find(Fold(name));
    return it == key->values.end() ? nullptr : &it->second;
  }

  void Put(Hive hive, const std::wstring& path, const std::wstring& name, StoredType type,
           std::vector<uint8_t> data) {
    Value& v = Make(hive, path).values[Fold(name)];
    if (v.name.empty()) v.name = name;
    v.type = type;
    v.data = std::move(data);
  }
};

namespace {

std::vector<uint8_t> DwordData(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 24)};
}

class MemoryKey : public SettingsKey {
 public:
  MemoryKey(std::shared_ptr<MemorySettingsStore::State> state, Hive hive, std::wstring path)
      : state_(std::move(state)), hive_(hive), path_(std::move(path)) {}

  bool ReadDword(const std::wstring& name, uint32_t& value) override {
    if (state_->Fails(SettingsOp::ReadDword, name)) return false;
    const Value* v = state_->FindValue(hive_, path_, name);
    if (!v) return false;
    // The narrow call hands a string over as its narrow text.
    const std::vector<uint8_t> data = v->type == StoredType::String ? NarrowText(v->data) : v->data;
    if (data.size() > 4) return false;
    // Like a read into a zeroed 4-byte buffer: shorter data fills the low bytes.
    value = 0;
    for (std::size_t i = 0; i < data.size(); ++i) value |= uint32_t{data[i]} << (8 * i);
    return true;
  }

  bool ReadString(const std::wstring& name, std::size_t capacity, std::wstring& value) override {
    if (state_->Fails(SettingsOp::ReadString, name)) return false;
    const Value* v = state_->FindValue(hive_, path_, name);
    if (!v || capacity == 0 || v->data.size() > capacity * 2) return false;
    const std::vector<uint16_t> units = Units(v->data);
    const std::size_t length = std::find(units.begin(), units.end(), 0) - units.begin();
    // Unterminated data that fills the whole buffer leaves no room for the terminator.
    if (length == units.size() && length >= capacity) return false;
    value = Decode(units, length);
    return true;
  }

  bool WriteDword(const std::wstring& name, uint32_t value) override {
    if (state_->Fails(SettingsOp::WriteDword, name)) return false;
    state_->Put(hive_, path_, name, StoredType::Dword, DwordData(value));
    state_->changes.push_back({SettingsOp::WriteDword, hive_, path_, name, value, L""});
    return true;
  }

  bool WriteString(const std::wstring& name, const std::wstring& value) override {
    if (state_->Fails(SettingsOp::WriteString, name)) return false;
    state_->Put(hive_, path_, name, StoredType::String, MemorySettingsStore::Utf16Data(value, true));
    state_->changes.push_back({SettingsOp::WriteString, hive_, path_, name, 0, value});
    return true;
  }

  Deletion DeleteValue(const std::wstring& name) override {
    if (state_->Fails(SettingsOp::DeleteValue, name)) return Deletion::Failed;
    Key* key = state_->Find(hive_, path_);
    if (!key || key->values.erase(Fold(name)) == 0) return Deletion::Absent;
    state_->changes.push_back({SettingsOp::DeleteValue, hive_, path_, name, 0, L""});
    return Deletion::Deleted;
  }

 private:
  std::shared_ptr<MemorySettingsStore::State> state_;
  Hive hive_;
  std::wstring path_;
};

}  // namespace

MemorySettingsStore::MemorySettingsStore() : state_(std::make_shared<State>()) {}
MemorySettingsStore::~MemorySettingsStore() = default;

std::unique_ptr<SettingsKey> MemorySettingsStore::CreateOrOpen(Hive hive, const std::wstring& path,
                                                               bool& created) {
  created = false;
  if (state_->Fails(SettingsOp::CreateOrOpen, path)) return nullptr;
  created = state_->Find(hive, path) == nullptr;
  state_->Make(hive, path);
  return std::make_unique<MemoryKey>(state_, hive, path);
}

std::unique_ptr<SettingsKey> MemorySettingsStore::Open(Hive hive, const std::wstring& path) {
  if (state_->Fails(SettingsOp::Open, path) || !state_->Find(hive, path)) return nullptr;
  return std::make_unique<MemoryKey>(state_, hive, path);
}

std::unique_ptr<SettingsKey> MemorySettingsStore::OpenForWriting(Hive hive, const std::wstring& path) {
  if (state_->Fails(SettingsOp::OpenForWriting, path) || !state_->Find(hive, path)) return nullptr;
  return std::make_unique<MemoryKey>(state_, hive, path);
}

void MemorySettingsStore::AddKey(Hive hive, const std::wstring& path) { state_->Make(hive, path); }

void MemorySettingsStore::PutDword(Hive hive, const std::wstring& path, const std::wstring& name,
                                   uint32_t value) {
  state_->Put(hive, path, name, StoredType::Dword, DwordData(value));
}

void MemorySettingsStore::PutString(Hive hive, const std::wstring& path, const std::wstring& name,
                                    const std::wstring& value) {
  state_->Put(hive, path, name, StoredType::String, Utf16Data(value, true));
}

void MemorySettingsStore::PutRaw(Hive hive, const std::wstring& path, const std::wstring& name,
                                 StoredType type, std::vector<uint8_t> data) {
  state_->Put(hive, path, name, type, std::move(data));
}

bool MemorySettingsStore::HasKey(Hive hive, const std::wstring& path) const {
  return state_->Find(hive, path) != nullptr;
}

bool MemorySettingsStore::HasValue(Hive hive, const std::wstring& path, const std::wstring& name) const {
  return state_->FindValue(hive, path, name) != nullptr;
}

std::optional<uint32_t> MemorySettingsStore::GetDword(Hive hive, const std::wstring& path,
                                                      const std::wstring& name) const {
  const Value* v = state_->FindValue(hive, path, name);
  if (!v || v->type != StoredType::Dword || v->data.size() != 4) return std::nullopt;
  return uint32_t{v->data[0]} | uint32_t{v->data[1]} << 8 | uint32_t{v->data[2]} << 16 |
         uint32_t{v->data[3]} << 24;
}

std::optional<std::wstring> MemorySettingsStore::GetString(Hive hive, const std::wstring& path,
                                                           const std::wstring& name) const {
  const Value* v = state_->FindValue(hive, path, name);
  if (!v || v->type != StoredType::String) return std::nullopt;
  const std::vector<uint16_t> units = Units(v->data);
  return Decode(units, std::find(units.begin(), units.end(), 0) - units.begin());
}

const std::vector<MemorySettingsStore::Change>& MemorySettingsStore::Changes() const {
  return state_->changes;
}

int MemorySettingsStore::Calls(SettingsOp op) const {
  auto it = state_->calls.find(op);
  return it == state_->calls.end() ? 0 : it->second;
}

void MemorySettingsStore::FailOn(SettingsOp op, const std::wstring& name) {
  state_->failures.emplace_back(op, Fold(name));
}

void MemorySettingsStore::ClearFailures() { state_->failures.clear(); }

std::vector<uint8_t> MemorySettingsStore::Utf16Data(const std::wstring& text, bool terminated) {
  std::vector<uint8_t> data;
  auto unit = [&data](uint32_t u) {
    data.push_back(static_cast<uint8_t>(u & 0xFF));
    data.push_back(static_cast<uint8_t>((u >> 8) & 0xFF));
  };
  for (wchar_t c : text) {
    const uint32_t code = static_cast<uint32_t>(c);
    if (code > 0xFFFF) {
      unit(0xD800 + ((code - 0x10000) >> 10));
      unit(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      unit(code);
    }
  }
  if (terminated) unit(0);
  return data;
}

}  // namespace tactra

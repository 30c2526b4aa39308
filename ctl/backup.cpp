#include "ctl/backup.h"

#include <cstdint>

namespace tactra::ctl {

namespace {

Json Numbers(const std::vector<int>& values) {
  Json out = Json::Array();
  for (int v : values) out.Add(Json::Number(v));
  return out;
}

template <typename T, std::size_t N>
Json Numbers(const std::array<T, N>& values) {
  Json out = Json::Array();
  for (T v : values) out.Add(Json::Number(static_cast<int64_t>(v)));
  return out;
}

Json RecordJson(const proto::CalibrationRecord& r) {
  Json out = Json::Object();
  out.Set("value1", Json::Number(r.value1));
  out.Set("value2", Json::Number(r.value2));
  Json flags = Json::Array();
  for (bool f : r.flags) flags.Add(Json::Number(f ? 1 : 0));
  out.Set("flags", flags);
  out.Set("x", Numbers(r.x));
  out.Set("y", Numbers(r.y));
  return out;
}

// Reads members of one object, keeping the first fault.
class Reader {
 public:
  Reader(const Json& object, std::string where, std::string& error)
      : object_(object), where_(std::move(where)), error_(error) {
    if (object.kind() != Json::Kind::Object) Fail("is not an object");
  }
  bool ok() const { return error_.empty(); }

  const Json* Member(const char* key, Json::Kind kind, const char* what) {
    if (!ok()) return nullptr;
    const Json* v = object_.Find(key);
    if (v == nullptr) {
      Fail(std::string("has no \"") + key + "\"");
    } else if (v->kind() != kind) {
      Fail(std::string("\"") + key + "\" is not " + what);
      v = nullptr;
    }
    return v;
  }
  std::string Text(const char* key) {
    const Json* v = Member(key, Json::Kind::String, "a text");
    return v ? v->string() : std::string();
  }
  int Number(const char* key, int64_t lo, int64_t hi) {
    const Json* v = Member(key, Json::Kind::Number, "a number");
    if (v == nullptr) return 0;
    if (v->number() < lo || v->number() > hi) {
      Fail(std::string("\"") + key + "\" is out of range");
      return 0;
    }
    return static_cast<int>(v->number());
  }
  // An array of exactly `count` numbers (any count when `count` is 0) within lo..hi.
  std::vector<int> Numbers(const char* key, std::size_t count, int64_t lo, int64_t hi) {
    std::vector<int> out;
    const Json* v = Member(key, Json::Kind::Array, "a list");
    if (v == nullptr) return out;
    if (count != 0 && v->items().size() != count) {
      Fail(std::string("\"") + key + "\" does not have " + std::to_string(count) + " values");
      return out;
    }
    for (const Json& item : v->items()) {
      if (item.kind() != Json::Kind::Number || item.number() < lo || item.number() > hi) {
        Fail(std::string("\"") + key + "\" has a value that is not a number from " + std::to_string(lo) +
             " to " + std::to_string(hi));
        return {};
      }
      out.push_back(static_cast<int>(item.number()));
    }
    return out;
  }
  void Fail(const std::string& what) {
    if (ok()) error_ = where_ + " " + what;
  }

 private:
  const Json& object_;
  std::string where_;
  std::string& error_;
};

// The frame's lists hold up to 14 and 26 signed bytes.
constexpr std::size_t kMaxListA = 14;
constexpr std::size_t kMaxListB = 26;

}  // namespace

int ModeForTargets(int targets) {
  switch (targets) {
    case 4:
      return proto::kModeFourPoint;
    case 5:
      return proto::kModeFivePoint;
    case 9:
      return proto::kModeNinePoint;
    default:
      return 0;
  }
}

Json InfoJson(const FrameInfo& info) {
  Json out = Json::Object();
  out.Set("firmware", Json::String(info.firmware));
  out.Set("date", Json::String(info.date));
  out.Set("model", Json::String(info.model));
  out.Set("description", Json::String(info.description));
  out.Set("value", Json::Number(info.value));
  out.Set("list_a", Numbers(info.listA));
  out.Set("list_b", Numbers(info.listB));
  return out;
}

Json CalibrationJson(int targets, int option) {
  Json out = Json::Object();
  out.Set("mode", Json::Number(targets));
  out.Set("option", Json::Number(option));
  return out;
}

std::string EncodeBackup(const Backup& backup) {
  Json out = Json::Object();
  out.Set("format", Json::String(kBackupFormat));
  out.Set("version", Json::Number(kBackupVersion));
  out.Set("info", InfoJson(backup.info));
  out.Set("settings", backup.settings);
  Json calibration = CalibrationJson(backup.calibration.targets, backup.calibration.option);
  calibration.Set("record", backup.calibration.record ? RecordJson(*backup.calibration.record) : Json());
  out.Set("calibration", calibration);
  return out.Write() + "\n";
}

std::optional<Backup> DecodeBackup(const std::string& content, std::string& error) {
  std::optional<Json> parsed = ParseJson(content, error);
  if (!parsed) {
    error = "not a backup file: " + error;
    return std::nullopt;
  }
  error.clear();
  Reader top(*parsed, "the backup", error);
  if (top.Text("format") != kBackupFormat) {
    if (top.ok()) error = "not a backup file (format)";
    return std::nullopt;
  }
  const int version = top.Number("version", 0, INT32_MAX);
  if (top.ok() && version != kBackupVersion) {
    error = "backup format version " + std::to_string(version) + " is not known (this tool reads version " +
            std::to_string(kBackupVersion) + ")";
    return std::nullopt;
  }
  Backup backup;
  const Json* info = top.Member("info", Json::Kind::Object, "an object");
  const Json* settings = top.Member("settings", Json::Kind::Object, "an object");
  const Json* calibration = top.Member("calibration", Json::Kind::Object, "an object");
  if (!top.ok()) return std::nullopt;

  Reader i(*info, "info", error);
  backup.info.firmware = i.Text("firmware");
  backup.info.date = i.Text("date");
  backup.info.model = i.Text("model");
  backup.info.description = i.Text("description");
  backup.info.value = i.Number("value", INT8_MIN, INT8_MAX);
  backup.info.listA = i.Numbers("list_a", 0, INT8_MIN, INT8_MAX);
  backup.info.listB = i.Numbers("list_b", 0, INT8_MIN, INT8_MAX);
  if (i.ok() && (backup.info.listA.size() > kMaxListA || backup.info.listB.size() > kMaxListB))
    i.Fail("has a list longer than the frame's");
  if (!i.ok()) return std::nullopt;

  if (!AssignmentsFromJson(*settings, error)) return std::nullopt;
  backup.settings = *settings;

  Reader c(*calibration, "calibration", error);
  backup.calibration.targets = c.Number("mode", 0, 9);
  if (c.ok() && ModeForTargets(backup.calibration.targets) == 0) c.Fail("\"mode\" is not 4, 5 or 9");
  backup.calibration.option = c.Number("option", 0, 4);
  const Json* record = calibration->Find("record");
  if (c.ok() && record == nullptr) c.Fail("has no \"record\"");
  if (c.ok() && !record->isNull()) {
    Reader r(*record, "calibration record", error);
    proto::CalibrationRecord out;
    out.value1 = static_cast<uint8_t>(r.Number("value1", 0, 255));
    out.value2 = static_cast<uint8_t>(r.Number("value2", 0, 255));
    const std::vector<int> flags = r.Numbers("flags", out.flags.size(), 0, 1);
    const std::vector<int> x = r.Numbers("x", out.x.size(), 0, UINT16_MAX);
    const std::vector<int> y = r.Numbers("y", out.y.size(), 0, UINT16_MAX);
    if (!r.ok()) return std::nullopt;
    for (std::size_t k = 0; k < out.flags.size(); ++k) out.flags[k] = flags[k] == 1;
    for (std::size_t k = 0; k < out.x.size(); ++k) {
      out.x[k] = static_cast<uint16_t>(x[k]);
      out.y[k] = static_cast<uint16_t>(y[k]);
    }
    backup.calibration.record = out;
  }
  if (!c.ok()) return std::nullopt;
  return backup;
}

}  // namespace tactra::ctl

// The backup file: what a frame tells of itself, its settings, its calibration mode and option
// and its calibration record, as one JSON object with a format version, so that a known-good
// frame can be copied onto others.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "ctl/json.h"
#include "ctl/named_settings.h"
#include "device/protocol.h"

namespace tactra::ctl {

constexpr const char* kBackupFormat = "tactra-backup";
constexpr int kBackupVersion = 1;

struct FrameInfo {
  std::string firmware;
  std::string date;
  std::string model;
  std::string description;
  int value = 0;
  std::vector<int> listA;
  std::vector<int> listB;
};

struct CalibrationState {
  int targets = 4;  // 4, 5 or 9: the mode by its number of targets
  int option = 0;
  std::optional<proto::CalibrationRecord> record;  // read only in the 5- and 9-target modes
};

struct Backup {
  FrameInfo info;
  Json settings;  // as SettingsJson
  CalibrationState calibration;
};

Json InfoJson(const FrameInfo& info);
Json CalibrationJson(int targets, int option);

std::string EncodeBackup(const Backup& backup);
// The whole file or nothing: the format and version, every part and field of its kind and
// range, the settings valid as NAME=VALUE would be. `error` says what is wrong.
std::optional<Backup> DecodeBackup(const std::string& content, std::string& error);

// The frame's mode code for a number of targets, 0 for none.
int ModeForTargets(int targets);

}  // namespace tactra::ctl

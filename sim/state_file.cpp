#include "sim/state_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "sim/hex.h"

namespace tactra::sim {

namespace {

constexpr std::size_t kMaxStateFile = 16 * 1024;

// Reads `count` integers of 0..max from the rest of a line; false on anything else.
bool Numbers(std::istringstream& in, int count, long max, std::vector<long>& out) {
  out.clear();
  for (int i = 0; i < count; ++i) {
    long v = -1;
    if (!(in >> v) || v < 0 || v > max) return false;
    out.push_back(v);
  }
  std::string rest;
  return !(in >> rest);
}

uint8_t U8(long v) { return static_cast<uint8_t>(v); }
uint16_t U16(long v) { return static_cast<uint16_t>(v); }

}  // namespace

std::string FormatState(const FrameState& s) {
  const FrameSettings& c = s.settings;
  std::ostringstream out;
  out << "# tactra-framesim state\n";
  out << "mode " << s.mode << "\n";
  out << "option13 " << int(c.option13) << "\n";
  out << "cfg11 " << int(c.cfg11) << "\n";
  out << "cfg12 " << int(c.cfg12[0]) << " " << int(c.cfg12[1]) << " " << int(c.cfg12[2]) << "\n";
  out << "cfg14 " << int(c.cfg14.enabled) << " " << int(c.cfg14.level) << " " << c.cfg14.time << "\n";
  out << "cfg15 " << int(c.cfg15.enabled) << " " << int(c.cfg15.level) << " " << c.cfg15.time << "\n";
  out << "cfg16 " << int(c.cfg16Enabled) << " " << int(c.cfg16Value) << "\n";
  out << "cfg17 " << int(c.cfg17[0]) << " " << int(c.cfg17[1]) << " " << int(c.cfg17[2]) << " "
      << int(c.cfg17[3]) << "\n";
  out << "cfg21 " << int(c.cfg21Enabled) << " " << c.cfg21A << " " << c.cfg21B << "\n";
  const proto::RecordBytes record = proto::EncodeRecord(s.record);
  out << "record " << ToHex(record.data(), record.size()) << "\n";
  return out.str();
}

bool ParseState(const std::string& text, FrameState& out) {
  FrameState s;
  FrameSettings& c = s.settings;
  std::istringstream lines(text);
  std::string line;
  int seen = 0;
  std::vector<long> v;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    std::string key;
    in >> key;
    if (key == "mode" && Numbers(in, 1, 4, v)) {
      s.mode = int(v[0]);
    } else if (key == "option13" && Numbers(in, 1, 255, v)) {
      c.option13 = U8(v[0]);
    } else if (key == "cfg11" && Numbers(in, 1, 255, v)) {
      c.cfg11 = U8(v[0]);
    } else if (key == "cfg12" && Numbers(in, 3, 255, v)) {
      c.cfg12 = {U8(v[0]), U8(v[1]), U8(v[2])};
    } else if ((key == "cfg14" || key == "cfg15") && Numbers(in, 3, 65535, v)) {
      if (v[0] > 255 || v[1] > 255) return false;
      (key == "cfg14" ? c.cfg14 : c.cfg15) = {U8(v[0]), U8(v[1]), U16(v[2])};
    } else if (key == "cfg16" && Numbers(in, 2, 255, v)) {
      c.cfg16Enabled = U8(v[0]);
      c.cfg16Value = U8(v[1]);
    } else if (key == "cfg17" && Numbers(in, 4, 255, v)) {
      c.cfg17 = {U8(v[0]), U8(v[1]), U8(v[2]), U8(v[3])};
    } else if (key == "cfg21" && Numbers(in, 3, 65535, v)) {
      if (v[0] > 255) return false;
      c.cfg21Enabled = U8(v[0]);
      c.cfg21A = U16(v[1]);
      c.cfg21B = U16(v[2]);
    } else if (key == "record") {
      std::string hex, rest;
      proto::RecordBytes bytes{};
      if (!(in >> hex) || (in >> rest) || !FromHex(hex, bytes.data(), bytes.size())) return false;
      s.record = proto::DecodeRecord(bytes.data());
    } else {
      return false;
    }
    ++seen;
  }
  if (seen != 10 || !proto::IsValidMode(s.mode) || !IsValidSettings(c)) return false;
  out = s;
  return true;
}

bool SaveState(const std::string& path, const FrameState& state) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file << FormatState(state);
    if (!file.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temp, path, error);
  return !error;
}

bool LoadState(const std::string& path, FrameState& out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string text(kMaxStateFile + 1, '\0');
  file.read(&text[0], static_cast<std::streamsize>(text.size()));
  const std::size_t length = static_cast<std::size_t>(file.gcount());
  if (length > kMaxStateFile) return false;
  text.resize(length);
  return ParseState(text, out);
}

}  // namespace tactra::sim

// The tool built natively: over the simulated frame only (TACTRA_FRAME_SIM), with files on disk
// and no registry and no calibration program, so that its logic runs under the sanitizers.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "ctl/tool.h"
#include "ctl/utf8.h"
#include "programs/host_choice.h"

namespace {

using namespace tactra;

class DiskFiles : public console::FileAccess {
 public:
  bool WriteReplacing(const std::wstring& path, const std::string& content) override {
    const std::string target = ctl::ToUtf8(path);
    const std::string temporary = target + ".tmp";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out.write(content.data(), static_cast<std::streamsize>(content.size()));
      if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), target.c_str()) == 0 || (std::remove(temporary.c_str()), false);
  }
  bool Read(const std::wstring& path, std::size_t limit, std::string& content) override {
    std::ifstream in(ctl::ToUtf8(path), std::ios::binary);
    if (!in) return false;
    std::string text(limit + 1, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    if (in.bad() || static_cast<std::size_t>(in.gcount()) > limit) return false;
    text.resize(static_cast<std::size_t>(in.gcount()));
    content = std::move(text);
    return true;
  }
};

// No registry here: every key fails, as a registry the tool may not open would.
class NoRegistry : public SettingsStore {
 public:
  std::unique_ptr<SettingsKey> CreateOrOpen(Hive, const std::wstring&, bool&) override { return nullptr; }
  std::unique_ptr<SettingsKey> Open(Hive, const std::wstring&) override { return nullptr; }
  std::unique_ptr<SettingsKey> OpenForWriting(Hive, const std::wstring&) override { return nullptr; }
};

class NoProgram : public console::ProgramStarter {
 public:
  std::unique_ptr<console::StartedProcess> Start(console::StartOutcome& outcome) override {
    outcome = console::StartOutcome::FileNotFound;
    return nullptr;
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::unique_ptr<HidHost> host = ChooseHidHost(CreateAbsentHidHost);
  NoRegistry store;
  DiskFiles files;
  NoProgram starter;
  ctl::ToolSeams seams{*host,
                       store,
                       files,
                       starter,
                       [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); },
                       RealSleep,
                       console::kOsCodeWithSetting11,
                       std::nullopt,
                       std::chrono::milliseconds(0)};
  const ctl::ToolOutput result = ctl::RunTool(std::vector<std::string>(argv + 1, argv + argc), seams);
  return ctl::Deliver(
      result,
      [](const std::string& text) {
        return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
      },
      [](const std::string& text) { std::fputs(text.c_str(), stderr); });
}

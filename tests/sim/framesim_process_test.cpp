// The real tactra-framesim under hard conditions: too few descriptors for its clients, and a
// state file it cannot write when it is told to quit.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "device/link.h"
#include "device/protocol.h"
#include "sim/sim_hid_host.h"
#include "tests/sim/framesim_process.h"
#include "tests/sim/raw_client.h"
#include "tests/sim/served_frame.h"

namespace tactra::sim::testing {
namespace {

using namespace std::chrono_literals;
using namespace tactra::proto;
namespace fs = std::filesystem;

TEST(FramesimProcessTest, OutOfDescriptorsTheServerWaitsInsteadOfSpinning) {
  Simulator sim({}, 24);
  ASSERT_NE(sim.port(), 0);
  // More subscribers than it has descriptors for: the rest wait in its listen queue.
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < 40; ++i) {
    clients.push_back(std::make_unique<RawClient>(sim.port()));
    ASSERT_TRUE(clients.back()->Send(wire::EncodeEmpty(wire::kSubscribe)));
  }
  std::this_thread::sleep_for(300ms);
  const long before = sim.CpuTicks();
  std::this_thread::sleep_for(1000ms);
  EXPECT_LE(sim.CpuTicks() - before, 10) << "the server spins while it cannot accept";
  // Once descriptors are free again it serves the next clients.
  clients.clear();
  std::string dump;
  EXPECT_EQ(RunControl("127.0.0.1", sim.port(), {"dump"}, dump), 0);
}

TEST(FramesimProcessTest, QuitSavesOnceMoreAndTellsWhenTheStateIsNotSaved) {
  struct Case {
    const char* name;
    bool directoryAway;  // the state file's directory is gone when the change comes
    int exitStatus;
    const char* saved;  // what the file then says
  };
  const Case cases[] = {{"saved", false, 0, "mode 2\n"}, {"cannot save", true, 1, "mode 4\n"}};
  for (const Case& c : cases) {
    std::string base = ::testing::TempDir() + "framesim-quit-XXXXXX";
    ASSERT_NE(mkdtemp(base.data()), nullptr);
    const std::string home = base + "/home";
    ASSERT_TRUE(fs::create_directory(home));
    {
      Simulator sim({"--state", home + "/state"});
      ASSERT_NE(sim.port(), 0);
      ProgramLink calibration(CreateSimHidHost("127.0.0.1", sim.port()), CalibrationLinkConfig());
      ASSERT_TRUE(calibration.link.Start());
      ASSERT_TRUE(calibration.Send(kCalibrationReportId, CMD_CAL_SET_MODE, {kModeNinePoint}));
      std::this_thread::sleep_for(300ms);  // saved by now
      if (c.directoryAway) ASSERT_EQ(std::rename(home.c_str(), (base + "/away").c_str()), 0);
      ASSERT_TRUE(calibration.Send(kCalibrationReportId, CMD_CAL_SET_MODE, {kModeFourPoint}));
      calibration.link.End();
      EXPECT_EQ(sim.Quit(), c.exitStatus) << c.name;
    }
    std::string saved;
    if (FILE* f = std::fopen((base + (c.directoryAway ? "/away" : "/home") + "/state").c_str(), "rb")) {
      char text[4096];
      saved.assign(text, std::fread(text, 1, sizeof text, f));
      std::fclose(f);
    }
    EXPECT_NE(saved.find(c.saved), std::string::npos) << c.name << ": " << saved;
    fs::remove_all(base);
  }
}

}  // namespace
}  // namespace tactra::sim::testing

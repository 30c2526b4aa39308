// The calibration run, over the calibration program's link and the simulator host, with the
// simulated frame's auto finger: every target is accepted the first time and the result the
// run writes is what the frame keeps.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "calibration/run.h"
#include "sim/finger.h"
#include "sim/hex.h"
#include "tests/fakes/recording_messages.h"
#include "tests/sim/served_frame.h"

namespace tactra::sim::testing {
namespace {

using namespace tactra::proto;
using std::chrono::milliseconds;

// The dialog's part: the link's owner, the run's port, and a computation that hands the
// measured points back as the result, so the frame's record shows what the run measured.
class RunHarness : public LinkOwner, public calib::RunPort, public calib::RunComputer {
 public:
  explicit RunHarness(const ServedFrame& frame)
      : host_(frame.Host()),
        link_(*host_, CalibrationLinkConfig(), NoSleep),
        run_(link_, *this, messages_, *this) {
    link_.SetOwner(this);
  }
  ~RunHarness() override { link_.End(); }

  Link& link() { return link_; }
  calib::CalibrationRun& run() { return run_; }
  std::future<void> completed() { return completed_.get_future(); }
  int refusals() const { return refusals_.load(); }
  const tactra::test::RecordingMessages& messages() const { return messages_; }

  void OnDeviceReply(const uint8_t* report, std::size_t length) override {
    run_.OnDeviceReply(report, length);
  }
  void OnTouchReport(const uint8_t* report, std::size_t length) override {
    run_.HandleSample(report, length);
  }

  void Pause(milliseconds) override {}
  void PostCompletion() override { completed_.set_value(); }
  void PostRefusal() override { ++refusals_; }
  void RedrawTargets() override {}

  calib::RunResult Compute(int, const calib::MeasuredTargets& targets) override {
    std::array<int32_t, 9> bx{}, by{};
    for (std::size_t i = 0; i < 9; ++i) {
      bx[i] = targets.rx[i];
      by[i] = targets.ry[i];
    }
    return {true, EncodeBorderResult(bx, by)};
  }

 private:
  std::unique_ptr<HidHost> host_;
  tactra::test::RecordingMessages messages_;
  Link link_;
  calib::CalibrationRun run_;
  std::promise<void> completed_;
  std::atomic<int> refusals_{0};
};

TEST(SimCalibrationRunTest, AutoFingerCompletesAFivePointRunAndTheFrameKeepsIt) {
  ServerOptions options;
  options.finger.rateHz = 1000;  // the default 120 samples, quickly
  options.finger.noise = 3;
  ServedFrame frame(options);
  RunHarness h(frame);
  ASSERT_TRUE(h.link().Start());
  h.run().OpenConversation();
  EXPECT_EQ(h.link().GetLinkState(), kLinkStarted);
  EXPECT_EQ(h.run().targetCount(), 5);
  h.run().BeginCollecting();
  h.run().OnTargetsDrawn(h.run().generation());
  std::future<void> done = h.completed();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(15)), std::future_status::ready)
      << "stuck at target " << h.run().currentTarget();
  EXPECT_TRUE(h.run().done());
  // Each measured point is the raw point of its target, give or take the noise.
  const std::vector<ScreenPoint> targets = TargetPoints(kModeFivePoint, 1024, 768);
  const Finger mapping(options.finger);
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const auto raw = mapping.Raw(targets[k].x, targets[k].y);
    EXPECT_NEAR(h.run().measured().rx[k], raw[0], 3) << k;
    EXPECT_NEAR(h.run().measured().ry[k], raw[1], 3) << k;
  }
  ASSERT_TRUE(h.run().WriteResult());
  h.run().Finish(true);
  EXPECT_TRUE(h.messages().resource.empty());
  EXPECT_EQ(h.refusals(), 0);  // nothing was refused

  std::string dump;
  ASSERT_EQ(frame.Ctl({"dump"}, &dump), 0);
  EXPECT_NE(dump.find("\"calibrating\":false"), std::string::npos);
  const RecordBytes kept = EncodeRecord([&] {
    CalibrationRecord r;
    r.value1 = kModeFivePoint;
    r.flags = {true, false, false};
    for (std::size_t k = 0; k < 9; ++k) {
      r.x[k] = h.run().measured().rx[k];
      r.y[k] = h.run().measured().ry[k];
    }
    return r;
  }());
  EXPECT_NE(dump.find("\"record\":\"" + ToHex(kept.data(), kept.size()) + "\""), std::string::npos)
      << dump.substr(0, 400);
}

}  // namespace
}  // namespace tactra::sim::testing

// The console's Transact of a settings read, timed inside Wine over both transports to one served
// frame: Wine's HID stack with the virtual frame (driver, pipe, bridge) and the simulator host
// (loopback TCP). Each iteration is one round trip timed by tactra-transact-probe.exe itself, so
// the pipe to the probe is not counted. Run it in front of a frame:
//   scripts/vframe with-frame -- build/native/bin/bench_vframe
// which sets WINE, WINEPREFIX, TACTRA_WIN_TREE and TACTRA_VFRAME_SIM.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// How long the probe may take to find the frame, and to answer one request.
constexpr int kReadyTimeoutMs = 60000;
constexpr int kAnswerTimeoutMs = 30000;

std::string RepositoryRoot() {
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return {};
  std::string path = self;  // <repo>/build/native/bin/bench_vframe
  for (int i = 0; i < 4 && !path.empty(); ++i) path = path.substr(0, path.rfind('/'));
  return path;
}

// The probe under Wine with pipes to its input and output; killed if still running at the end.
class Probe {
 public:
  Probe(const std::string& wine, const std::string& program, std::vector<std::string> environment) {
    int in[2], out[2];
    if (pipe(in) != 0) return;
    if (pipe(out) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> env;
    for (std::string& e : environment) env.push_back(e.data());
    env.push_back(nullptr);
    std::string w = wine, p = program;
    char* argv[] = {w.data(), p.data(), nullptr};
    if (posix_spawn(&pid_, wine.c_str(), &actions, nullptr, argv, env.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~Probe() {
    if (to_ >= 0) {
      Send("0\n");
      close(to_);
    }
    if (from_ >= 0) close(from_);
    if (pid_ > 0) {
      for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) usleep(100000);
      if (waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  bool started() const { return pid_ > 0 && to_ >= 0 && from_ >= 0; }
  bool Send(const char* text) {
    return write(to_, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text));
  }
  // One line of the probe's output, or false after the time-out or its end.
  bool ReadLine(std::string& line, int timeoutMs) {
    line.clear();
    for (;;) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return true;
      }
      pollfd item{from_, POLLIN, 0};
      if (poll(&item, 1, timeoutMs) <= 0) return false;
      char chunk[256];
      const ssize_t n = read(from_, chunk, sizeof chunk);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
  std::string buffer_;
};

void BM_Transact(benchmark::State& state, bool simulatorHost) {
  const char* wine = std::getenv("WINE");
  const char* tree = std::getenv("TACTRA_WIN_TREE");
  const char* frame = std::getenv("TACTRA_VFRAME_SIM");
  if (wine == nullptr || tree == nullptr || frame == nullptr) {
    state.SkipWithError("no served frame: run through scripts/vframe with-frame");
    return;
  }
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "TACTRA_FRAME_SIM=", 17) != 0) environment.emplace_back(*e);
  }
  // The same program and frame; only the way to the frame differs.
  if (simulatorHost) environment.push_back(std::string("TACTRA_FRAME_SIM=") + frame);
  Probe probe(wine, RepositoryRoot() + "/" + tree + "/bin/tactra-transact-probe.exe", environment);
  std::string line;
  if (!probe.started() || !probe.ReadLine(line, kReadyTimeoutMs) || line.rfind("ready", 0) != 0) {
    state.SkipWithError(("the probe did not find the frame: " + line).c_str());
    return;
  }
  long failed = 0;
  for (auto _ : state) {
    double seconds = 0;
    long missing = 0;
    if (!probe.Send("1\n") || !probe.ReadLine(line, kAnswerTimeoutMs) ||
        std::sscanf(line.c_str(), "%lf %ld", &seconds, &missing) != 2) {
      state.SkipWithError("the probe stopped answering");
      break;
    }
    failed += missing;
    state.SetIterationTime(seconds);
  }
  state.counters["failed"] = static_cast<double>(failed);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_Transact, virtual_frame, false)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_Transact, simulator_host, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0);

}  // namespace

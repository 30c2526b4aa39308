// The real tactra-framesim in a process of its own, for the tests that watch what the process
// does: its CPU time, its exit status, its limits.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/control_client.h"

namespace tactra::sim::testing {

// Starts `tactra-framesim serve --port 0 ARGS...` and reads the port it announces. With
// `descriptorLimit` the process may hold no more descriptors than that.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> args = {}, int descriptorLimit = 0) {
    args.insert(args.begin(), {TACTRA_FRAMESIM_PATH, "serve", "--port", "0"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // Only calls that are safe between fork and exec.
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      if (descriptorLimit > 0) {
        const rlimit limit{rlim_t(descriptorLimit), rlim_t(descriptorLimit)};
        setrlimit(RLIMIT_NOFILE, &limit);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (pid_ > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const std::size_t colon = line.rfind(':');
    if (colon != std::string::npos) port_ = static_cast<uint16_t>(std::stoi(line.substr(colon + 1)));
  }
  ~Simulator() { Quit(); }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  uint16_t port() const { return port_; }

  // Asks it to quit (killing it if it does not answer) and returns its exit status, or -1 when
  // it did not exit by itself.
  int Quit() {
    if (pid_ <= 0) return status_;
    std::string ignored;
    if (port_ == 0 || RunControl("127.0.0.1", port_, {"quit"}, ignored) == kNoSimulator) kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }

  // User and system time of the process, in clock ticks.
  long CpuTicks() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) utime = std::stol(field);
      if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
  }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  int status_ = -1;
};

}  // namespace tactra::sim::testing

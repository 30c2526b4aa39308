// The client side of `tactra-framesim ctl`: sends one control command to a running simulator
// and collects its answer. Tests use it to drive a served frame.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tactra::sim {

constexpr int kNoSimulator = -1;

// The command's exit code (0 = done), or kNoSimulator when no simulator answered properly
// within the time limits (sim/request.h; `wait-received` adds its own wait). `output` receives
// the command's text, or why the arguments cannot be sent (exit code 2).
// How long `ctl` waits for the simulator's next message: `wait-received` answers only once its
// own wait, as the simulator reads it, is over.
std::chrono::milliseconds ControlAnswerLimit(const std::vector<std::string>& args);

int RunControl(const std::string& host, uint16_t port, const std::vector<std::string>& args,
               std::string& output);

}  // namespace tactra::sim

// One collection of the virtual frame: the pipe its driver device opens on one side, the
// simulated frame's interface on the other. Input reports of the interface go down the pipe as
// they arrive; reports the driver hands up are written to the interface as they were written,
// one at a time, and each is acknowledged to the driver once the frame took it, or reported not
// taken after VFRAME_HOLD_MS.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/event.h"
#include "device/hid_host.h"
#include "device/win32/device_handles_win32.h"

namespace tactra::vframe {

class ChannelBridge {
 public:
  ChannelBridge(HidHost& frame, int channel, std::wstring framePath);
  ~ChannelBridge();  // stops the thread and closes the pipe
  ChannelBridge(const ChannelBridge&) = delete;
  ChannelBridge& operator=(const ChannelBridge&) = delete;

  // Creates the pipe and starts waiting for the driver; false when the pipe cannot be made
  // (another bridge holds it).
  bool Start();
  // True once the driver has connected, within the time-out.
  bool WaitConnected(std::chrono::milliseconds timeout) const { return connected_.Wait(timeout); }

 private:
  void Run();
  bool AwaitDriver();
  void Serve();
  void ForwardInput(HidReader& read, const Event& stop);
  // Writes the queued reports to the frame, one at a time, and acknowledges each to the driver.
  void ForwardOutput(HidWriter& write, const Event& stop);
  // Takes a report the driver sent (the `seq`th of the connection) for ForwardOutput.
  void QueueOutput(unsigned seq, const uint8_t* report, std::size_t length, const Event& stop);
  // One whole frame down the pipe; the pipe's writers take turns.
  bool ToDriver(const uint8_t* frame, std::size_t length, const Event& stop);
  bool Acknowledge(unsigned seq, bool taken, const Event& stop);

  struct Output {
    unsigned seq;
    std::vector<uint8_t> report;
  };

  HidHost& frame_;
  int channel_;
  std::wstring framePath_;
  win32::UniqueFile pipe_;
  std::mutex pipeWrite_;
  win32::UniqueHandle pipeWriteEvent_;  // for the pipe's writes, under pipeWrite_
  std::mutex outputMutex_;
  std::deque<Output> outputs_;  // under outputMutex_; at most kMaxQueued
  Event outputQueued_;
  Event stop_;
  Event connected_;
  std::thread thread_;
};

}  // namespace tactra::vframe

// One collection of the virtual frame: the pipe its driver device opens on one side, the
// simulated frame's interface on the other. Input reports of the interface go down the pipe as
// they arrive; reports the driver hands up are written to the interface as they were written.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

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
  void ForwardInput(HidHandle& read, const Event& stop);

  HidHost& frame_;
  int channel_;
  std::wstring framePath_;
  win32::UniqueFile pipe_;
  Event stop_;
  Event connected_;
  std::thread thread_;
};

}  // namespace tactra::vframe

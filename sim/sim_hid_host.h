// The HID host over a running `tactra-framesim`: enumeration, handles and notices travel over
// loopback TCP (docs/sim-wire-protocol.md). One connection per opened handle, so closing a
// handle closes its connection, and unplugging the frame breaks every handle as on real HID.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/hid_host.h"

namespace tactra::sim {

constexpr char kFrameSimVariable[] = "TACTRA_FRAME_SIM";

std::unique_ptr<HidHost> CreateSimHidHost(const std::string& host, uint16_t port);

// The simulator host when TACTRA_FRAME_SIM=host:port is set and well formed, else null.
std::unique_ptr<HidHost> CreateSimHidHostFromEnvironment();

// Device paths are printable ASCII on the wire.
std::string NarrowPath(const std::wstring& path, bool& ok);
std::wstring WidenPath(const std::string& path);

}  // namespace tactra::sim

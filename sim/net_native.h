// What the sockets do differently on each system, for net.cpp: net_posix.cpp and
// win32/net_win32.cpp define these. The rest of the socket code is the same everywhere.
#pragma once

#include <cstddef>
#include <vector>

#include "sim/net.h"

namespace tactra::sim::net::native {

bool Startup();
void Close(NativeSocket s);
// The last call failed only because it would have had to wait.
bool WouldBlock();
// The last connect goes on in the background.
bool ConnectPending();
// Waits until a non-blocking connect has ended; true when it succeeded in time.
bool WaitConnected(const Socket& s, int timeoutMs);
// Lets a restarted simulator take its port again at once, where the system allows it safely.
void AllowAddressReuse(const Socket& s);
long Send(const Socket& s, const uint8_t* data, std::size_t length);
long Recv(const Socket& s, uint8_t* data, std::size_t capacity);

}  // namespace tactra::sim::net::native

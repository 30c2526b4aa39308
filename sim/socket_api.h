// The system's socket headers for the code that is the same everywhere (net.cpp).
#pragma once

#ifdef _WIN32
#include "sim/win32/socket_api_win32.h"
#else
#include "sim/socket_api_posix.h"
#endif

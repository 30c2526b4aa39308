// Where the running program lives: what the programs start or load from beside themselves is
// found by full path, never by a search.
#pragma once

#include <cstddef>
#include <string>

namespace tactra::win32 {

// The longest path the system takes, in characters with the terminator.
constexpr std::size_t kLongestPath = 32768;

// The full path of the running program. False when it does not fit `capacity` characters
// (terminator included) or cannot be had; `path` is then empty.
bool ProgramPath(std::wstring& path, std::size_t capacity);
// The running program's folder with its trailing separator; empty when it cannot be had.
std::wstring ProgramFolder();

}  // namespace tactra::win32

// UTF-8 at the tool's edges (arguments, files, standard output), wide strings inside, as the
// pages and the system's wide functions have them.
#pragma once

#include <string>

namespace tactra::ctl {

// Ill-formed input becomes U+FFFD, so that nothing is dropped without a trace.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace tactra::ctl

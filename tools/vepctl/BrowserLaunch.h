#pragma once
// Hands a URL to the desktop's browser: runs `xdg-open URL` (found on PATH) and waits for it.
// Blocks the calling thread until xdg-open returns.
#include <string>

namespace scoutor::vepctl {

// Empty on success; otherwise why the URL was not handed over ("xdg-open cannot be run: No
// such file or directory", "xdg-open exited with 3").
std::string OpenInBrowser(const std::string& url);

}  // namespace scoutor::vepctl

#pragma once
// Hands a URL to the user's browser through the desktop's opener, `xdg-open` as found on PATH.
// The opener runs on its own: the window goes on at once, and learns of a failure only when
// the opener could not start or ended with a non-zero status. Main thread only.
#include <functional>
#include <string>

namespace scoutor {

// `failed` runs later, on the main thread, when the URL could not be handed over.
void OpenInBrowser(const std::string& url, std::function<void()> failed);

}  // namespace scoutor

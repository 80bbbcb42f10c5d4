#include "runtime/Notifier.h"

#include <cstdio>

namespace scoutor {

namespace {
TNotifier* Installed = nullptr;
}

TNoticeAnswer TStderrNotifier::Show(const std::string& caption, const std::string& text,
                                    TNoticeButtons) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  return TNoticeAnswer::Ok;
}

TNotifier& Notifier() {
  static TStderrNotifier fallback;
  return Installed != nullptr ? *Installed : fallback;
}

void SetNotifier(TNotifier* notifier) { Installed = notifier; }

}  // namespace scoutor

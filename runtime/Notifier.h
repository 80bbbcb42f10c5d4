#pragma once
// Modal notices (message boxes). The core asks through this seam; the desktop program shows
// real boxes, headless programs write the caption and text to standard error, tests record.
#include <string>

namespace scoutor {

enum class TNoticeButtons { Ok, OkCancel };
enum class TNoticeAnswer { Ok, Cancel };

class TNotifier {
 public:
  virtual ~TNotifier() = default;
  // Blocks until the notice has been answered.
  virtual TNoticeAnswer Show(const std::string& caption, const std::string& text,
                             TNoticeButtons buttons) = 0;
};

// Writes "caption: text" to standard error and answers OK.
class TStderrNotifier final : public TNotifier {
 public:
  TNoticeAnswer Show(const std::string& caption, const std::string& text,
                     TNoticeButtons buttons) override;
};

// The installed notifier; the standard-error one unless another was installed.
TNotifier& Notifier();
// Installs `notifier` (nullptr: back to standard error); the caller keeps ownership.
void SetNotifier(TNotifier* notifier);

}  // namespace scoutor

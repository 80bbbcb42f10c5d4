#pragma once
// Message boxes for the desktop program: the core's notices (runtime/Notifier.h) as real
// QMessageBox boxes, and the application's standard error box for an error that escapes a
// command handler. Main thread only; the boxes are modal and keep serving the event loop.
#include <QMessageBox>
#include <QString>

#include <exception>
#include <string>

#include "runtime/Notifier.h"

namespace scoutor {

class TQtNotifier final : public TNotifier {
 public:
  // No icon; OK, or OK and Cancel, as asked.
  TNoticeAnswer Show(const std::string& caption, const std::string& text,
                     TNoticeButtons buttons) override;
};

// The application title (QCoreApplication's application name), which start-up sets to the
// executable's file name without directory and extension; the About box, the application's
// own message boxes and the main window show it.
QString ApplicationTitle();
void SetApplicationTitleFromExecutable();

// A modal message box with one caption, text, icon and buttons; its accessible name is the
// caption and its accessible description the text. Returns the button pressed.
QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                    const QString& text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// The standard error box: `text`, the application title as caption, a stop sign and OK.
void ShowErrorBox(QWidget* parent, const QString& text);
// Runs `command`; an error escaping it is shown in the standard error box.
template <class TCommand>
void RunCommand(QWidget* parent, TCommand&& command) {
  try {
    command();
  } catch (const std::exception& error) {
    ShowErrorBox(parent, QString::fromStdString(error.what()));
  }
}

}  // namespace scoutor

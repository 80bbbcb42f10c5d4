#include "ui/QtNotifier.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace scoutor {

TNoticeAnswer TQtNotifier::Show(const std::string& caption, const std::string& text,
                                TNoticeButtons buttons) {
  const auto pressed = ShowBox(QApplication::activeWindow(), QMessageBox::NoIcon,
                               QString::fromStdString(caption), QString::fromStdString(text),
                               buttons == TNoticeButtons::Ok ? QMessageBox::Ok
                                                             : QMessageBox::Ok | QMessageBox::Cancel);
  return pressed == QMessageBox::Ok ? TNoticeAnswer::Ok : TNoticeAnswer::Cancel;
}

QString ApplicationTitle() { return QCoreApplication::applicationName(); }

void SetApplicationTitleFromExecutable() {
  QCoreApplication::setApplicationName(
      QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                    const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton) {
  QMessageBox box(icon, caption, text, buttons, parent);
  if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
  box.setAccessibleName(caption);
  box.setAccessibleDescription(text);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowErrorBox(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::Critical, ApplicationTitle(), text);
}

}  // namespace scoutor

#include "ui/QtNotifier.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace scoutor {

TNoticeAnswer TQtNotifier::Show(const std::string& caption, const std::string& text,
                                TNoticeButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption),
                  QString::fromStdString(text),
                  buttons == TNoticeButtons::Ok ? QMessageBox::Ok
                                                : QMessageBox::Ok | QMessageBox::Cancel,
                  QApplication::activeWindow());
  return box.exec() == QMessageBox::Ok ? TNoticeAnswer::Ok : TNoticeAnswer::Cancel;
}

QString ApplicationTitle() { return QCoreApplication::applicationName(); }

void SetApplicationTitleFromExecutable() {
  QCoreApplication::setApplicationName(
      QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

void ShowErrorBox(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace scoutor

#include "ui/UrlOpener.h"

#include <QProcess>
#include <QString>

namespace scoutor {

namespace {

const QString kOpener = QStringLiteral("xdg-open");

}  // namespace

// The process has no parent on purpose: an opener that waits for the browser it started must
// not be killed when the program ends first. It deletes itself when it has ended.
void OpenInBrowser(const std::string& url, std::function<void()> failed) {
  auto* opener = new QProcess;
  opener->setProgram(kOpener);
  opener->setArguments({QString::fromStdString(url)});
  opener->setStandardInputFile(QProcess::nullDevice());
  opener->setProcessChannelMode(QProcess::ForwardedChannels);
  QObject::connect(opener, &QProcess::errorOccurred, opener,
                   [opener, failed](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;  // the rest end in finished
                     opener->deleteLater();
                     failed();
                   });
  QObject::connect(opener, &QProcess::finished, opener,
                   [opener, failed](int status, QProcess::ExitStatus exit) {
                     opener->deleteLater();
                     if (exit != QProcess::NormalExit || status != 0) failed();
                   });
  opener->start();
}

}  // namespace scoutor

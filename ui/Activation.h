#pragma once
// Bringing the running copy of the program to the front when a second copy starts. The first
// copy listens on a local socket named after its program lock (abstract namespace, so scoped
// per network namespace like the lock itself); a second copy that finds the lock taken connects
// and asks, and the first copy raises its main window and its topmost dialog. Main thread only.
#include <QObject>
#include <QString>

class QLocalServer;
class QWidget;

namespace scoutor {

class TActivationServer final : public QObject {
  Q_OBJECT

 public:
  TActivationServer(const QString& lockName, QWidget& mainWindow);
  bool Listening() const;

 signals:
  void Activated();

 private:
  void Activate();

  QLocalServer* Server;
  QWidget& MainWindow;
};

// Asks the copy that listens under `lockName` to come to the front; false when none answered
// within `timeoutMs`.
bool ActivateRunningCopy(const QString& lockName, int timeoutMs = 2000);

}  // namespace scoutor

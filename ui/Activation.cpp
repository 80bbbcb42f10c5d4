#include "ui/Activation.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

namespace scoutor {

namespace {
constexpr char kActivate[] = "activate\n";
}  // namespace

TActivationServer::TActivationServer(const QString& lockName, QWidget& mainWindow)
    : QObject(&mainWindow), Server(new QLocalServer(this)), MainWindow(mainWindow) {
  Server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  Server->listen(lockName);
  connect(Server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* asker = Server->nextPendingConnection()) {
      connect(asker, &QLocalSocket::disconnected, asker, &QObject::deleteLater);
      connect(asker, &QLocalSocket::readyRead, this, [this, asker] {
        if (asker->readAll().contains(kActivate)) Activate();
      });
    }
  });
}

bool TActivationServer::Listening() const {
  return Server->isListening();
}

void TActivationServer::Activate() {
  if (MainWindow.isMinimized()) MainWindow.showNormal();
  MainWindow.raise();
  MainWindow.activateWindow();
  if (QWidget* dialog = QApplication::activeModalWidget();
      dialog != nullptr && dialog != &MainWindow) {
    dialog->raise();
    dialog->activateWindow();
  }
  emit Activated();
}

bool ActivateRunningCopy(const QString& lockName, int timeoutMs) {
  QLocalSocket socket;
  socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  socket.connectToServer(lockName);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kActivate);
  const bool sent = socket.waitForBytesWritten(timeoutMs);
  socket.disconnectFromServer();
  return sent;
}

}  // namespace scoutor

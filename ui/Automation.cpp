#include "ui/Automation.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include "ui/MaskedAddressEdit.h"

namespace scoutor {

namespace {

constexpr int kNameColumn = 0;
constexpr int kIDColumn = 3;
constexpr int kColumns = 5;

QString Caption(const QString& text) {
  return QString(text).remove('&');
}

}  // namespace

TAutomation::TAutomation(const QString& socketPath, QMainWindow& mainWindow)
    : QObject(&mainWindow), Server(new QLocalServer(this)), MainWindow(mainWindow) {
  Server->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(socketPath);
  Server->listen(socketPath);
  connect(Server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* client = Server->nextPendingConnection()) {
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
      connect(client, &QLocalSocket::readyRead, this, [this, client] { Serve(*client); });
    }
  });
}

bool TAutomation::Listening() const {
  return Server->isListening();
}

TAutomation* TAutomation::FromEnvironment(QMainWindow& mainWindow) {
  const QString path = qEnvironmentVariable("SCOUTOR_AUTOMATION");
  return path.isEmpty() ? nullptr : new TAutomation(path, mainWindow);
}

void TAutomation::Serve(QLocalSocket& client) {
  while (client.canReadLine()) {
    const QString command = QString::fromUtf8(client.readLine()).trimmed();
    client.write((Run(command) + "\n").toUtf8());
    client.flush();
  }
}

QString TAutomation::Run(const QString& command) {
  const QString verb = command.section(' ', 0, 0);
  const QString argument = command.section(' ', 1);
  QWidget* modal = QApplication::activeModalWidget();
  if (verb == "rows") return Rows();
  if (verb == "modal") return Modal();
  if (verb == "select") {
    auto* list = MainWindow.findChild<QTreeWidget*>("DeviceList");
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      if (list->topLevelItem(row)->text(kIDColumn) != argument) continue;
      list->setCurrentItem(list->topLevelItem(row));
      return "ok";
    }
    return "error no row " + argument;
  }
  if (verb == "enabled" || verb == "trigger") {
    auto* action = MainWindow.findChild<QAction*>(argument);
    if (action == nullptr) return "error no action " + argument;
    if (verb == "enabled") return action->isEnabled() ? "ok 1" : "ok 0";
    QTimer::singleShot(0, action, &QAction::trigger);
    return "ok";
  }
  if (verb == "edit" && modal != nullptr) {
    const QList<QLineEdit*> fields = modal->findChildren<QLineEdit*>();
    const int index = argument.section(' ', 0, 0).toInt();
    if (index < 0 || index >= fields.size()) return "error no field " + argument;
    const QString text = argument.section(' ', 1);
    if (auto* address = qobject_cast<TMaskedAddressEdit*>(fields[index]))
      address->SetAddressText(text);
    else
      fields[index]->setText(text);
    return "ok";
  }
  if (verb == "click" && modal != nullptr) {
    for (QAbstractButton* button : modal->findChildren<QAbstractButton*>()) {
      if (Caption(button->text()) != argument) continue;
      QTimer::singleShot(0, button, &QAbstractButton::click);
      return "ok";
    }
    return "error no button " + argument;
  }
  if (verb == "grab") {
    QWidget* shown = modal != nullptr ? modal : &MainWindow;
    return shown->grab().save(argument) ? "ok" : "error cannot save " + argument;
  }
  return "error unknown command " + command;
}

QString TAutomation::Rows() const {
  auto* list = MainWindow.findChild<QTreeWidget*>("DeviceList");
  QString rows = "ok\n";
  for (int row = 0; row < list->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = list->topLevelItem(row);
    QStringList cells;
    for (int column = 0; column < kColumns; ++column) cells << item->text(column);
    const bool sign = !item->data(kNameColumn, Qt::AccessibleDescriptionRole).toString().isEmpty();
    cells << (sign ? "sign" : "-");
    rows += cells.join('\t') + "\n";
  }
  return rows + ".";
}

QString TAutomation::Modal() const {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr) return "ok none";
  auto* box = qobject_cast<QMessageBox*>(modal);
  QStringList parts = {modal->metaObject()->className(), modal->windowTitle(),
                       box != nullptr ? box->text() : QString()};
  for (const QLineEdit* field : modal->findChildren<QLineEdit*>()) parts << field->text();
  for (const QRadioButton* choice : modal->findChildren<QRadioButton*>())
    if (choice->isChecked()) parts << "checked:" + Caption(choice->text());
  return "ok " + parts.join('\t');
}

}  // namespace scoutor

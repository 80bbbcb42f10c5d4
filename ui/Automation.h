#pragma once
// A remote control of the running program for end-to-end tests that drive the real process
// (tests/e2e). Only when the environment variable SCOUTOR_AUTOMATION names a socket path does
// the program listen there (a local socket, owner only). One command per line, one answer:
//   rows              the device list, one row a line: Name, Type, IP Address, ID, Interface
//                     and "sign" or "-", tab-separated; then a line "."
//   select ID         selects the row with that ID text
//   enabled ACTION    "1" or "0" for the main window's action of that object name ("Scan", ...)
//   trigger ACTION    triggers the action once the answer is out (it may open a modal dialog)
//   modal             the active modal window, tab-separated: its class, title, the text of a
//                     message box (else empty), the texts of its text fields and "checked:"
//                     with the caption of each checked radio button; "none" without one
//   edit N TEXT       puts TEXT into the N-th text field (from 0) of the active modal window
//   click CAPTION     clicks the button of that caption ("&" left out) in the active modal
//                     window, once the answer is out
//   grab FILE         saves a picture of the active modal window, or else of the main window
// Answers start with "ok" or "error"; a command runs on the main thread between events.
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QMainWindow;

namespace scoutor {

class TAutomation final : public QObject {
  Q_OBJECT

 public:
  TAutomation(const QString& socketPath, QMainWindow& mainWindow);
  bool Listening() const;

  // Starts the remote control when SCOUTOR_AUTOMATION is set; nullptr otherwise.
  static TAutomation* FromEnvironment(QMainWindow& mainWindow);

 private:
  void Serve(QLocalSocket& client);
  QString Run(const QString& command);
  QString Rows() const;
  QString Modal() const;

  QLocalServer* Server;
  QMainWindow& MainWindow;
};

}  // namespace scoutor

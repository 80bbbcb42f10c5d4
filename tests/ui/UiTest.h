#pragma once
// Helpers for driving modal dialogs in Qt Test programs: act once a modal loop runs, and find
// the message box that a dialog opened.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

namespace scoutor {

// Runs `step` as soon as the next modal loop (QDialog::exec) serves events.
inline void InModalLoop(std::function<void()> step) { QTimer::singleShot(0, std::move(step)); }

// Runs `step` as soon as `dialog` is the active modal widget (its own modal loop runs).
inline void WhenModal(QWidget* dialog, std::function<void()> step) {
  auto* poll = new QTimer;
  poll->setInterval(0);
  QObject::connect(poll, &QTimer::timeout, [poll, dialog, step = std::move(step)] {
    if (QApplication::activeModalWidget() != dialog) return;
    poll->stop();
    poll->deleteLater();
    step();
  });
  poll->start();
}

// Runs `step` with the message box as soon as one is the active modal widget; checked on every
// pass of the event loop, so it fires inside the box's own modal loop.
inline void WhenBoxOpens(std::function<void(QMessageBox&)> step) {
  auto* poll = new QTimer;
  poll->setInterval(0);
  QObject::connect(poll, &QTimer::timeout, [poll, step = std::move(step)] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    step(*box);
  });
  poll->start();
}

// What a message box showed, for comparison after it was answered.
struct TSeenBox {
  QString Caption;
  QString Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons Buttons;
  QString AccessibleDescription;
  int Count = 0;
};

// Records the next box and presses its OK button.
inline void AnswerNextBoxOk(TSeenBox& seen) {
  WhenBoxOpens([&seen](QMessageBox& box) {
    seen.Caption = box.windowTitle();
    seen.Text = box.text();
    seen.Icon = box.icon();
    seen.Buttons = box.standardButtons();
    seen.AccessibleDescription = box.accessibleDescription();
    ++seen.Count;
    box.button(QMessageBox::Ok)->click();
  });
}

}  // namespace scoutor

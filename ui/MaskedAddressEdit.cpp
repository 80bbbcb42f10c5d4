#include "ui/MaskedAddressEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QRegularExpressionValidator>

#include <utility>

namespace scoutor {

namespace {

const QString kBlank = QStringLiteral("   .   .   .   ");

bool IsDot(int position) { return position % 4 == 3; }

}  // namespace

TMaskedAddressEdit::TMaskedAddressEdit(QWidget* parent) : QLineEdit(parent) {
  setMaxLength(kLength);
  // Whatever path an edit takes, the text keeps its shape.
  setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9 ]{3}\\.[0-9 ]{3}\\.[0-9 ]{3}\\.[0-9 ]{3}")), this));
  setDragEnabled(false);
  setAcceptDrops(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  setText(kBlank);
}

void TMaskedAddressEdit::SetAddressText(const QString& dotted) {
  QString text = kBlank;
  int slot = 0, filled = 0;
  for (QChar c : dotted) {
    if (c == '.') {
      if (++slot == 4) break;
      filled = 0;
    } else if (c.isDigit() && filled < 3) {
      text[slot * 4 + filled++] = c;
    }
  }
  Replace(text, 0);
}

void TMaskedAddressEdit::Replace(const QString& text, int cursor) {
  setText(text);
  setCursorPosition(cursor);
}

void TMaskedAddressEdit::TypeDigit(QChar digit) {
  int at = cursorPosition();
  if (IsDot(at)) ++at;
  if (at >= kLength) {
    QApplication::beep();
    return;
  }
  QString edited = text();
  edited[at] = digit;
  Replace(edited, IsDot(at + 1) ? at + 2 : at + 1);
  PassedDotByTyping = IsDot(at + 1);
}

void TMaskedAddressEdit::JumpToNextSlot() {
  const int slot = cursorPosition() / 4;
  if (slot < 3) setCursorPosition((slot + 1) * 4);
}

void TMaskedAddressEdit::BlankRange(int from, int to) {
  QString edited = text();
  for (int i = from; i < to; ++i)
    if (!IsDot(i)) edited[i] = ' ';
  Replace(edited, from);
}

void TMaskedAddressEdit::keyPressEvent(QKeyEvent* event) {
  if (isReadOnly() || !isEnabled()) return QLineEdit::keyPressEvent(event);
  const int at = cursorPosition();
  const bool passedDot = std::exchange(PassedDotByTyping, false);
  if (hasSelectedText() && (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete ||
                            event->matches(QKeySequence::Cut))) {
    if (event->matches(QKeySequence::Cut)) copy();
    BlankRange(selectionStart(), selectionEnd());
    return;
  }
  if (event->key() == Qt::Key_Backspace) {
    int before = at - 1;
    if (before >= 0 && IsDot(before)) --before;
    if (before >= 0) BlankRange(before, before + 1);
    return;
  }
  if (event->key() == Qt::Key_Delete) {
    if (at < kLength) BlankRange(at, at + 1);
    setCursorPosition(at);
    return;
  }
  if (event->matches(QKeySequence::Paste)) {
    SetAddressText(QApplication::clipboard()->text());
    return;
  }
  if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo) ||
      event->matches(QKeySequence::Cut))
    return;
  const QString typed = event->text();
  if (typed.size() != 1 || !typed[0].isPrint() || (event->modifiers() & Qt::ControlModifier)) {
    // Cursor movement, selection, copy, Tab, Enter and Esc as in any field.
    QLineEdit::keyPressEvent(event);
    return;
  }
  if (typed[0].isDigit() && typed[0].unicode() < 128) {
    TypeDigit(typed[0]);
  } else if (typed[0] == '.') {
    if (!passedDot) JumpToNextSlot();
  } else {
    QApplication::beep();
  }
}

}  // namespace scoutor

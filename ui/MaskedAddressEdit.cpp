#include "ui/MaskedAddressEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QValidator>

#include <algorithm>
#include <utility>

namespace scoutor {

namespace {

const QString kBlank = QStringLiteral("   .   .   .   ");
// Edits that undo can take back, at most.
constexpr std::size_t kUndoDepth = 100;

bool IsDot(int position) { return position % 4 == 3; }

bool HasShape(const QString& text) {
  if (text.size() != TMaskedAddressEdit::kLength) return false;
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (IsDot(i) ? c != '.' : !(c == ' ' || (c.isDigit() && c.unicode() < 128))) return false;
  }
  return true;
}

// A dotted address in the field's shape: each slot filled from its left end.
QString AddressShape(const QString& dotted) {
  QString text = kBlank;
  int slot = 0, filled = 0;
  for (QChar c : dotted) {
    if (c == '.') {
      if (++slot == 4) break;
      filled = 0;
    } else if (c.isDigit() && c.unicode() < 128 && filled < 3) {
      text[slot * 4 + filled++] = c;
    }
  }
  return text;
}

// Nothing but the exact shape is acceptable, not even a shorter beginning of it: QLineEdit
// takes back any edit of its own that would leave another text.
class TShapeValidator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    return HasShape(input) ? Acceptable : Invalid;
  }
};

bool IsControlKey(const QKeyEvent& event, Qt::Key key) {
  return event.key() == key && event.modifiers() == Qt::ControlModifier;
}

}  // namespace

TMaskedAddressEdit::TMaskedAddressEdit(QWidget* parent) : QLineEdit(parent) {
  setMaxLength(kLength);
  setValidator(new TShapeValidator(this));
  setInputMethodHints(Qt::ImhDigitsOnly | Qt::ImhNoPredictiveText);
  setDragEnabled(false);
  setAcceptDrops(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  connect(this, &QLineEdit::textChanged, this, [this] { TakeTextFromOutside(); });
  Replace(kBlank, 0);
}

void TMaskedAddressEdit::SetAddressText(const QString& dotted) {
  UndoStates.clear();
  RedoStates.clear();
  Replace(AddressShape(dotted), 0);
}

// setText from outside bypasses the validator: its text is read as a dotted address.
void TMaskedAddressEdit::TakeTextFromOutside() {
  if (Replacing) return;
  UndoStates.clear();
  RedoStates.clear();
  if (!HasShape(text())) Replace(AddressShape(text()), 0);
}

void TMaskedAddressEdit::Replace(const QString& text, int cursor) {
  Replacing = true;
  setText(text);
  Replacing = false;
  setCursorPosition(std::clamp(cursor, 0, kLength));
}

QString TMaskedAddressEdit::ShapedText() const {
  return HasShape(text()) ? text() : AddressShape(text());
}

// One edit of the user's: it can be undone.
void TMaskedAddressEdit::Edit(const QString& edited, int cursor) {
  if (edited != text()) {
    if (UndoStates.size() == kUndoDepth) UndoStates.erase(UndoStates.begin());
    UndoStates.push_back({text(), cursorPosition()});
    RedoStates.clear();
  }
  Replace(edited, cursor);
}

void TMaskedAddressEdit::Undo() {
  if (UndoStates.empty()) return;
  RedoStates.push_back({text(), cursorPosition()});
  const TState state = UndoStates.back();
  UndoStates.pop_back();
  Replace(state.Text, state.Cursor);
}

void TMaskedAddressEdit::Redo() {
  if (RedoStates.empty()) return;
  UndoStates.push_back({text(), cursorPosition()});
  const TState state = RedoStates.back();
  RedoStates.pop_back();
  Replace(state.Text, state.Cursor);
}

void TMaskedAddressEdit::TypeCharacter(QChar typed) {
  const bool passedDot = std::exchange(PassedDotByTyping, false);
  if (typed.isDigit() && typed.unicode() < 128)
    TypeDigit(typed);
  else if (typed == '.') {
    if (!passedDot) JumpToNextSlot();
  } else
    QApplication::beep();
}

void TMaskedAddressEdit::TypeDigit(QChar digit) {
  int at = cursorPosition();
  if (IsDot(at)) ++at;
  if (at >= kLength) {
    QApplication::beep();
    return;
  }
  QString edited = ShapedText();
  edited[at] = digit;
  Edit(edited, IsDot(at + 1) ? at + 2 : at + 1);
  PassedDotByTyping = IsDot(at + 1);
}

void TMaskedAddressEdit::JumpToNextSlot() {
  const int slot = cursorPosition() / 4;
  if (slot < 3) setCursorPosition((slot + 1) * 4);
}

void TMaskedAddressEdit::BlankRange(int from, int to) {
  QString edited = ShapedText();
  from = std::clamp(from, 0, kLength);
  for (int i = from; i < std::min(to, kLength); ++i)
    if (!IsDot(i)) edited[i] = ' ';
  Edit(edited, from);
}

// The deletions, each with its masked meaning: the positions it covers become blanks, the dots
// stay, and the cursor goes to the first of them. With a selection, any of them blanks the
// selection. Ctrl+K and Ctrl+U are the line-edit bindings of Linux desktops (to the end of the
// line, the whole line), handled whatever the desktop's key scheme.
bool TMaskedAddressEdit::DeleteByKey(const QKeyEvent& event) {
  if (event.matches(QKeySequence::Cut)) {
    if (hasSelectedText()) {
      copy();
      BlankRange(selectionStart(), selectionEnd());
    }
    return true;
  }
  const int at = cursorPosition();
  const int slotStart = at / 4 * 4;
  int from = 0, to = 0;
  if (event.matches(QKeySequence::DeleteCompleteLine) || IsControlKey(event, Qt::Key_U)) {
    to = kLength;
  } else if (event.matches(QKeySequence::DeleteEndOfLine) || IsControlKey(event, Qt::Key_K)) {
    from = at;
    to = kLength;
  } else if (event.matches(QKeySequence::DeleteEndOfWord)) {
    from = at;
    to = IsDot(at) ? at + 4 : slotStart + 3;  // before a dot: the next slot
  } else if (event.matches(QKeySequence::DeleteStartOfWord)) {
    from = at == slotStart && at > 0 ? at - 4 : slotStart;  // at a slot's start: the one before
    to = at;
  } else if (event.key() == Qt::Key_Backspace) {
    from = IsDot(at - 1) ? at - 2 : at - 1;
    to = from + 1;
    if (from < 0 && !hasSelectedText()) return true;
  } else if (event.key() == Qt::Key_Delete) {
    from = at;
    to = at + 1;
  } else {
    return false;
  }
  if (hasSelectedText()) {
    from = selectionStart();
    to = selectionEnd();
  }
  BlankRange(from, to);
  return true;
}

void TMaskedAddressEdit::keyPressEvent(QKeyEvent* event) {
  if (isReadOnly() || !isEnabled()) return QLineEdit::keyPressEvent(event);
  if (event->matches(QKeySequence::Undo)) return Undo();
  if (event->matches(QKeySequence::Redo)) return Redo();
  if (event->matches(QKeySequence::Paste)) {
    PassedDotByTyping = false;
    Edit(AddressShape(QApplication::clipboard()->text()), 0);
    return;
  }
  if (DeleteByKey(*event)) {
    PassedDotByTyping = false;
    return;
  }
  const QString typed = event->text();
  if (typed.size() != 1 || !typed[0].isPrint() ||
      (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
    // Cursor movement, selection, copy, Tab, Enter and Esc as in any field; whatever else
    // QLineEdit would do to the text meets the validator.
    PassedDotByTyping = false;
    QLineEdit::keyPressEvent(event);
    return;
  }
  TypeCharacter(typed[0]);
}

// Characters an input method commits count as typed; its composing text is not shown.
void TMaskedAddressEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (isReadOnly()) return QLineEdit::inputMethodEvent(event);
  for (QChar typed : event->commitString()) TypeCharacter(typed);
  event->accept();
}

}  // namespace scoutor

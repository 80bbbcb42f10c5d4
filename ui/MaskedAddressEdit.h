#pragma once
// An address field with the edit mask "999.999.999.999;1; ": four slots of three digit
// positions between fixed dots. A position holds one digit or a blank (shown as a space), the
// dots belong to the text, and the text is always 15 characters ("   .   .   .   " untouched).
// A digit fills the position at the cursor; a dot moves the cursor to the next slot's first
// position (a dot typed just after a slot's last digit moved the cursor past its dot stays
// there, so "10.1.2.3" typed as it reads fills the four slots); any other character is refused
// with a beep.
//
// Every deletion blanks positions and keeps the dots: Backspace, Delete, Cut, the line-edit
// bindings for the end of the line and the end or start of a word (a word is a slot), Ctrl+U.
// Paste and a text put in with setText are read as a dotted address, an input method's text
// counts as typed, drops are refused. Undo and redo step through the field's own edits.
// QLineEdit's own editing never sees a key that could shorten the text, and a validator that
// accepts only the exact shape turns back whatever else tries.
#include <QLineEdit>

#include <vector>

namespace scoutor {

class TMaskedAddressEdit final : public QLineEdit {
  Q_OBJECT

 public:
  static constexpr int kLength = 15;

  explicit TMaskedAddressEdit(QWidget* parent = nullptr);

  // Puts a dotted address in: each slot filled from its left end, the rest of it blank; an
  // empty text leaves every position blank. Like setText, it starts a new undo history.
  void SetAddressText(const QString& dotted);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  struct TState {
    QString Text;
    int Cursor;
  };

  bool DeleteByKey(const QKeyEvent& event);
  void TypeCharacter(QChar typed);
  void TypeDigit(QChar digit);
  void JumpToNextSlot();
  void BlankRange(int from, int to);
  void Edit(const QString& text, int cursor);
  void Undo();
  void Redo();
  void Replace(const QString& text, int cursor);
  void TakeTextFromOutside();
  QString ShapedText() const;

  bool PassedDotByTyping = false;
  bool Replacing = false;
  std::vector<TState> UndoStates;
  std::vector<TState> RedoStates;
};

}  // namespace scoutor

#pragma once
// An address field with the edit mask "999.999.999.999;1; ": four slots of three digit
// positions between fixed dots. A position holds one digit or a blank (shown as a space), the
// dots belong to the text, and the text is always 15 characters ("   .   .   .   " untouched).
// A digit fills the position at the cursor; a dot moves the cursor to the next slot's first
// position (a dot typed just after a slot's last digit moved the cursor past its dot stays
// there, so "10.1.2.3" typed as it reads fills the four slots); any other character is refused
// with a beep. Backspace and Delete blank positions.
#include <QLineEdit>

namespace scoutor {

class TMaskedAddressEdit final : public QLineEdit {
  Q_OBJECT

 public:
  static constexpr int kLength = 15;

  explicit TMaskedAddressEdit(QWidget* parent = nullptr);

  // Puts a dotted address in: each slot filled from its left end, the rest of it blank; an
  // empty text leaves every position blank.
  void SetAddressText(const QString& dotted);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void TypeDigit(QChar digit);
  void JumpToNextSlot();
  void BlankRange(int from, int to);
  void Replace(const QString& text, int cursor);

  bool PassedDotByTyping = false;
};

}  // namespace scoutor

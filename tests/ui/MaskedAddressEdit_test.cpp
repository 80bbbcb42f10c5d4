#include <QClipboard>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QTest>
#include <QValidator>

#include "ui/AddressText.h"
#include "ui/MaskedAddressEdit.h"

namespace scoutor {

class MaskedAddressEditTest : public QObject {
  Q_OBJECT

  TMaskedAddressEdit* Field = nullptr;

  static bool HasShape(const QString& text) {
    if (text.size() != TMaskedAddressEdit::kLength) return false;
    for (int i = 0; i < text.size(); ++i)
      if ((i % 4 == 3) != (text[i] == '.') || !(text[i] == '.' || text[i] == ' ' || text[i].isDigit()))
        return false;
    return true;
  }

  void Type(const QString& keys) {
    Field->setCursorPosition(0);
    QTest::keyClicks(Field, keys);
  }

 private slots:
  void init() {
    Field = new TMaskedAddressEdit;
    Field->show();
    Field->setFocus();
  }
  void cleanup() { delete Field; }

  void anUntouchedFieldIsFifteenBlanksAroundThreeDots() {
    QCOMPARE(Field->text(), QString("   .   .   .   "));
    QCOMPARE(StripBlanks(Field->text().toStdString()), std::string("..."));
    QCOMPARE(CompactIPText(Field->text().toStdString()), std::string(""));
  }

  void digitsFillPositionsAndStepOverTheDots() {
    Type("192168001005");
    QCOMPARE(Field->text(), QString("192.168.001.005"));
  }

  void aDotJumpsToTheNextSlotLeavingTheRestBlank() {
    Type("10.1.2.3");
    QCOMPARE(Field->text(), QString("10 .1  .2  .3  "));
    QCOMPARE(StripBlanks(Field->text().toStdString()), std::string("10.1.2.3"));
  }

  void aDotRightAfterAFullSlotDoesNotSkipASlot() {
    Type("010.001.002.003");
    QCOMPARE(Field->text(), QString("010.001.002.003"));
  }

  void lettersAndOtherCharactersAreRefused() {
    Type("1a2 b-3");
    QCOMPARE(Field->text(), QString("123.   .   .   "));
    Type("x");
    QCOMPARE(Field->text().size(), 15);
  }

  void typingBeyondTheLastPositionChangesNothing() {
    Type("1234567890123456");
    QCOMPARE(Field->text(), QString("123.456.789.012"));
  }

  void backspaceAndDeleteBlankPositionsAndKeepTheDots() {
    Type("192168");
    QTest::keyClick(Field, Qt::Key_Backspace);
    QTest::keyClick(Field, Qt::Key_Backspace);
    QCOMPARE(Field->text(), QString("192.1  .   .   "));
    Field->setCursorPosition(0);
    QTest::keyClick(Field, Qt::Key_Delete);
    QCOMPARE(Field->text(), QString(" 92.1  .   .   "));
    Field->selectAll();
    QTest::keyClick(Field, Qt::Key_Delete);
    QCOMPARE(Field->text(), QString("   .   .   .   "));
  }

  // Each key with the cursor at the start, inside a slot and at the end, then a digit: the
  // text keeps its shape whatever QLineEdit's bindings would have done.
  void everyEditingKeyKeepsTheShapeAndADigitAfterIt() {
    const QList<QKeySequence> keys = {
        QKeySequence(Qt::CTRL | Qt::Key_K),         QKeySequence(Qt::CTRL | Qt::Key_U),
        QKeySequence(Qt::CTRL | Qt::Key_Backspace), QKeySequence(Qt::CTRL | Qt::Key_Delete),
        QKeySequence(Qt::SHIFT | Qt::Key_Delete),   QKeySequence(Qt::CTRL | Qt::Key_X),
        QKeySequence(Qt::CTRL | Qt::Key_Z),         QKeySequence(Qt::CTRL | Qt::Key_Y),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_V),
        QKeySequence(Qt::CTRL | Qt::Key_H),         QKeySequence(Qt::CTRL | Qt::Key_D),
        QKeySequence(Qt::CTRL | Qt::Key_W),         QKeySequence(Qt::CTRL | Qt::Key_E),
        QKeySequence(Qt::CTRL | Qt::Key_A),         QKeySequence(QKeySequence::DeleteCompleteLine),
        QKeySequence(Qt::Key_Backspace),            QKeySequence(Qt::Key_Delete)};
    QApplication::clipboard()->setText("a text far longer than any address field");
    for (const QKeySequence& key : keys) {
      for (int at : {0, 5, 15}) {
        for (bool selected : {false, true}) {
          Field->SetAddressText("192.168.1.5");
          Field->setCursorPosition(at);
          if (selected) Field->setSelection(2, 8);
          QTest::keySequence(Field, key);
          QVERIFY2(HasShape(Field->text()), qPrintable(key.toString() + ": " + Field->text()));
          QTest::keyClicks(Field, "7");
          QVERIFY2(HasShape(Field->text()), qPrintable(key.toString() + ": " + Field->text()));
        }
      }
    }
  }

  void deletionsBlankPositionsAndKeepTheDots() {
    const auto after = [this](QKeySequence key, int at) {
      Field->SetAddressText("192.168.1.5");
      Field->setCursorPosition(at);
      QTest::keySequence(Field, key);
      return Field->text() + "|" + QString::number(Field->cursorPosition());
    };
    QCOMPARE(after(QKeySequence(Qt::CTRL | Qt::Key_K), 5), QString("192.1  .   .   |5"));
    QCOMPARE(after(QKeySequence(Qt::CTRL | Qt::Key_U), 5), QString("   .   .   .   |0"));
    QCOMPARE(after(QKeySequence(Qt::CTRL | Qt::Key_Backspace), 6), QString("192.  8.1  .5  |4"));
    QCOMPARE(after(QKeySequence(Qt::CTRL | Qt::Key_Backspace), 4), QString("   .168.1  .5  |0"));
    QCOMPARE(after(QKeySequence(Qt::CTRL | Qt::Key_Delete), 5), QString("192.1  .1  .5  |5"));
    QCOMPARE(after(QKeySequence(Qt::CTRL | Qt::Key_Delete), 3), QString("192.   .1  .5  |3"));
    Field->SetAddressText("192.168.1.5");
    Field->setSelection(1, 5);
    QTest::keySequence(Field, QKeySequence(Qt::CTRL | Qt::Key_X));
    QCOMPARE(QApplication::clipboard()->text(), QString("92.16"));
    QCOMPARE(Field->text(), QString("1  .  8.1  .5  "));
  }

  void undoAndRedoStepThroughTheFieldsOwnEdits() {
    Type("123");
    QTest::keySequence(Field, QKeySequence(Qt::CTRL | Qt::Key_U));
    QCOMPARE(Field->text(), QString("   .   .   .   "));
    QTest::keySequence(Field, QKeySequence::Undo);
    QCOMPARE(Field->text(), QString("123.   .   .   "));
    QTest::keySequence(Field, QKeySequence::Undo);
    QCOMPARE(Field->text(), QString("12 .   .   .   "));
    QTest::keySequence(Field, QKeySequence::Redo);
    QCOMPARE(Field->text(), QString("123.   .   .   "));
    QCOMPARE(Field->cursorPosition(), 4);
    Type("9");
    QTest::keySequence(Field, QKeySequence::Redo);  // a new edit ends the redo history
    QCOMPARE(Field->text(), QString("923.   .   .   "));
    Field->setText("10.0.0.1");  // from outside: a new history
    QTest::keySequence(Field, QKeySequence::Undo);
    QCOMPARE(Field->text(), QString("10 .0  .0  .1  "));
  }

  void pasteInputMethodAndSetTextAreReadAsAnAddressAndDropsChangeNothing() {
    QApplication::clipboard()->setText("10.0.0.7");
    QTest::keySequence(Field, QKeySequence::Paste);
    QCOMPARE(Field->text(), QString("10 .0  .0  .7  "));
    QTest::keySequence(Field, QKeySequence::Undo);
    QCOMPARE(Field->text(), QString("   .   .   .   "));

    // The field takes no drops; even where one reached QLineEdit, the text keeps its shape.
    QVERIFY(!Field->acceptDrops());
    Field->setAcceptDrops(true);
    QMimeData dragged;
    dragged.setText("172.16.0.1 and more");
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Field, &drop);
    QCOMPARE(Field->text(), QString("   .   .   .   "));

    Field->SetAddressText("");
    QInputMethodEvent composed;
    composed.setCommitString("12x.3");
    QApplication::sendEvent(Field, &composed);
    QCOMPARE(Field->text(), QString("12 .3  .   .   "));

    for (const char* outside : {"", "1.2.3.4", "a text far longer than the field", "1234567"}) {
      Field->setText(outside);
      QVERIFY2(HasShape(Field->text()), outside);
    }
    Field->setText("1.2.3.4");
    QCOMPARE(Field->text(), QString("1  .2  .3  .4  "));
  }

  // QLineEdit's own editing functions, called directly, meet the validator.
  void theLineEditsOwnEditingCannotShortenTheText() {
    Field->SetAddressText("192.168.1.5");
    Field->end(false);
    Field->backspace();
    Field->del();
    Field->setSelection(0, 9);
    Field->cut();
    Field->insert("1");
    Field->undo();
    Field->redo();
    QCOMPARE(Field->text(), QString("192.168.1  .5  "));
    QString shortened = "192.1";
    int position = 0;
    QCOMPARE(Field->validator()->validate(shortened, position), QValidator::Invalid);
  }

  void aDottedAddressFillsEachSlotFromItsLeftEnd() {
    Field->SetAddressText("192.168.1.5");
    QCOMPARE(Field->text(), QString("192.168.1  .5  "));
    QCOMPARE(StripBlanks(Field->text().toStdString()), std::string("192.168.1.5"));
    Field->SetAddressText("");
    QCOMPARE(Field->text(), QString("   .   .   .   "));
  }
};

// The pure conversions of the fields' text.
class AddressTextTest : public QObject {
  Q_OBJECT

 private slots:
  void compactIPTextDropsBlanksAndExtraDots() {
    QCOMPARE(CompactIPText("192.168.1  .5  "), std::string("192.168.1.5"));
    QCOMPARE(CompactIPText("10 .   .   .   "), std::string("10."));
    QCOMPARE(CompactIPText("   .   .  7.   "), std::string("7."));
    QCOMPARE(CompactIPText("   .   .   .   "), std::string(""));
  }

  void canonicalAddressReadsGroupsAsDecimal() {
    QCOMPARE(CanonicalAddress("010.001.002.003"), std::string("10.1.2.3"));
    QCOMPARE(CanonicalAddress("192.168.000.009"), std::string("192.168.0.9"));
    QCOMPARE(CanonicalAddress("10.1.2.3"), std::string("10.1.2.3"));
  }

  void incompleteOrOutOfRangeTextsStayAsTheyAre() {
    for (const char* text : {"...", "", "10.", "10.1.2", "300.1.2.3", "1.2.3.4.", "1..2.3", "a.b.c.d"})
      QCOMPARE(CanonicalAddress(text), std::string(text));
  }
};

}  // namespace scoutor

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  scoutor::MaskedAddressEditTest field;
  scoutor::AddressTextTest text;
  return QTest::qExec(&field, argc, argv) | QTest::qExec(&text, argc, argv);
}
#include "MaskedAddressEdit_test.moc"

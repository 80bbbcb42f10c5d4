#include <QTest>

#include "ui/AddressText.h"
#include "ui/MaskedAddressEdit.h"

namespace scoutor {

class MaskedAddressEditTest : public QObject {
  Q_OBJECT

  TMaskedAddressEdit* Field = nullptr;

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

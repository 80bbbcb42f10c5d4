#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "tests/ui/UiTest.h"
#include "ui/About.h"
#include "ui/VersionRecord.h"

// The build stamps this program with a file version and names the label it must show.
#ifndef SCOUTOR_EXPECTED_VERSION_LABEL
#error "SCOUTOR_EXPECTED_VERSION_LABEL names the label for the stamped version"
#endif

namespace scoutor {

class AboutTest : public QObject {
  Q_OBJECT

  QString PicturePath() const {
    return QDir(QCoreApplication::applicationDirPath()).filePath("sco_img.bmp");
  }

 private slots:
  void cleanup() { QFile::remove(PicturePath()); }

  void theVersionComesFromTheExecutablesOwnRecord() {
    TAboutForm form;
    QCOMPARE(form.Version->text(), QString(SCOUTOR_EXPECTED_VERSION_LABEL));
  }

  void aFileWithoutARecordGivesNoVersionText() {
    QVERIFY(!ReadFileVersion("/bin/sh").has_value());
    QVERIFY(!ReadFileVersion(SCOUTOR_SOURCE_DIR "/README.md").has_value());
    QVERIFY(!ReadFileVersion("/nonexistent/file").has_value());
    QCOMPARE(VersionText(std::nullopt), std::string(""));
    QCOMPARE(VersionText(TFileVersion{65535, 2, 3, 40000}), std::string("65535.2.3 build 40000"));
  }

  void captionAndProgramNameAreTheApplicationTitle() {
    TAboutForm form;
    QCOMPARE(form.windowTitle(), QCoreApplication::applicationName());
    QCOMPARE(form.ProgramName->text(), QCoreApplication::applicationName());
    QCoreApplication::setApplicationName("Renamed");
    TAboutForm renamed;
    QCOMPARE(renamed.windowTitle(), QString("Renamed"));
    QCOMPARE(renamed.ProgramName->text(), QString("Renamed"));
    QCoreApplication::setApplicationName(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  }

  void withoutAPictureFileTheDesignPictureShows() {
    TAboutForm form;
    QVERIFY(!form.PictureFromFile());
    QCOMPARE(form.BackgroundImage->pixmap().deviceIndependentSize().toSize(), QSize(319, 105));
  }

  void aBitmapBesideTheExecutableReplacesIt() {
    QImage bitmap(40, 30, QImage::Format_RGB32);
    bitmap.fill(Qt::red);
    QVERIFY(bitmap.save(PicturePath(), "BMP"));
    TAboutForm form;
    QVERIFY(form.PictureFromFile());
    QCOMPARE(form.BackgroundImage->pixmap().size(), QSize(40, 30));
  }

  void anUnreadablePictureFileKeepsTheDesignPicture() {
    QFile file(PicturePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a bitmap");
    file.close();
    TAboutForm form;
    QVERIFY(!form.PictureFromFile());
  }

  void enterClosesEscDoesNothing() {
    TAboutForm form;
    bool openAfterEsc = false;
    InModalLoop([&] {
      QTest::keyClick(&form, Qt::Key_Escape);
      openAfterEsc = form.isVisible();
      QTest::keyClick(&form, Qt::Key_Return);
    });
    QCOMPARE(form.exec(), int(QDialog::Accepted));
    QVERIFY(openAfterEsc);
    QVERIFY(form.Button1->isDefault());
    InModalLoop([&] { form.close(); });  // the close box
    form.exec();
    QVERIFY(!form.isVisible());
  }

  // The texts sit on white whatever the theme: a dark theme's light text must not come with it.
  void theTextsStayReadableUnderADarkTheme() {
    struct TPaletteScope {
      QPalette Saved = QApplication::palette();
      ~TPaletteScope() { QApplication::setPalette(Saved); }
    } paletteScope;
    QPalette dark = paletteScope.Saved;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    TAboutForm form;
    for (const QLabel* label : {form.ProgramName, form.Label1, form.Version}) {
      const QPalette& colours = label->palette();
      QCOMPARE(colours.color(QPalette::Window), QColor(Qt::white));
      QVERIFY2(qGray(colours.color(QPalette::WindowText).rgb()) < 100, qPrintable(label->text()));
    }
  }

  void layoutTextsAndAccessibleNames() {
    TAboutForm form;
    QCOMPARE(form.Button1->text(), QString("Close"));
    QCOMPARE(form.Button1->geometry(), QRect(232, 300, 75, 25));
    QCOMPARE(form.Label1->text().count('\n'), 2);
    QVERIFY(form.Label1->text().contains("Scoutor developers"));
    QVERIFY(form.Label1->geometry().bottom() < form.Version->y());
    QVERIFY(form.ProgramName->font().bold() && form.ProgramName->font().italic());
    QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
    for (QWidget* control : form.findChildren<QWidget*>()) {
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
      QVERIFY2(accessible && !accessible->text(QAccessible::Name).isEmpty(),
               qPrintable(control->metaObject()->className()));
    }
  }
};

}  // namespace scoutor

QTEST_MAIN(scoutor::AboutTest)
#include "About_test.moc"

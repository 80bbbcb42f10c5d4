#include "ui/About.h"

#include <QGuiApplication>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSvgRenderer>

#include "ui/DesignFont.h"
#include "ui/QtNotifier.h"
#include "ui/VersionRecord.h"

// Resources of a static library are registered by name, outside any namespace.
static void InitPictures() { Q_INIT_RESOURCE(pictures); }

namespace scoutor {

namespace {

const char* const kCredits =
    "Made by Scoutor developers\n"
    "Built on the VEP device protocol engine\n"
    "\u00a9 2026 Scoutor developers. All rights reserved.";

// The client area of a 328 x 400 window with a dialog border and caption.
constexpr QSize kClientSize(320, 373);
constexpr QSize kDesignPictureSize(319, 105);

QPixmap DesignPicture() {
  InitPictures();
  QSvgRenderer renderer(QStringLiteral(":/scoutor/about.svg"));
  // Rendered at the screen's pixel density, so that it stays sharp when scaled.
  const qreal ratio = qGuiApp->devicePixelRatio();
  QPixmap picture(kDesignPictureSize * ratio);
  picture.setDevicePixelRatio(ratio);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  renderer.render(&painter, QRectF(QPointF(0, 0), kDesignPictureSize));
  return picture;
}

QLabel* TextLabel(QWidget* parent, const QString& text, QPoint at) {
  auto* label = new QLabel(text, parent);
  label->move(at);
  label->setAutoFillBackground(true);  // white, over the picture
  label->adjustSize();
  return label;
}

}  // namespace

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(ApplicationTitle());
  setAccessibleName(ApplicationTitle());
  setFixedSize(kClientSize);
  UseDesignFont(*this);  // three credit lines between 32 and 74
  // White behind the texts in any theme, so their colour is fixed too: a dark theme's light
  // text would vanish on it.
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  setPalette(white);
  setAutoFillBackground(true);

  BackgroundImage = new QLabel(this);
  BackgroundImage->setGeometry(QRect(QPoint(0, 0), kClientSize));
  BackgroundImage->setAlignment(Qt::AlignCenter);
  BackgroundImage->setPixmap(DesignPicture());
  BackgroundImage->setAccessibleName("Scoutor picture");
  LoadPicture();

  ProgramName = TextLabel(this, ApplicationTitle(), QPoint(8, 8));
  QFont nameFont("Arial");
  nameFont.setPixelSize(16);
  nameFont.setBold(true);
  nameFont.setItalic(true);
  ProgramName->setFont(nameFont);
  ProgramName->adjustSize();

  Label1 = TextLabel(this, kCredits, QPoint(8, 32));
  Version = TextLabel(
      this, "Version: " + QString::fromStdString(VersionText(ReadFileVersion())), QPoint(8, 74));

  Button1 = new QPushButton("Close", this);
  Button1->setGeometry(232, 300, 75, 25);
  Button1->setDefault(true);
  Button1->setAccessibleName("Close");
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

// "sco_img.bmp" beside the executable replaces the design picture; any failure keeps it.
void TAboutForm::LoadPicture() {
  const QImage picture(QDir(QCoreApplication::applicationDirPath()).filePath("sco_img.bmp"), "BMP");
  if (picture.isNull()) return;
  BackgroundImage->setPixmap(QPixmap::fromImage(picture));
  LoadedPicture = true;
}

void TAboutForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;  // Esc has no effect here
  QDialog::keyPressEvent(event);
}

}  // namespace scoutor

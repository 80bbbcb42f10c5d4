#pragma once
// The About box: the program's name (the application title), its version from the file
// version record stamped into the executable, credit and legal lines, and a picture that a
// "sco_img.bmp" beside the executable replaces. Filled in once, at creation; Close (also
// Enter) or the close box end it, Esc does nothing.
#include <QDialog>

class QLabel;
class QPushButton;

namespace scoutor {

class TAboutForm final : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutForm(QWidget* parent = nullptr);

  QLabel* BackgroundImage;
  QLabel* ProgramName;
  QLabel* Label1;
  QLabel* Version;
  QPushButton* Button1;

  // True when the picture came from "sco_img.bmp".
  bool PictureFromFile() const { return LoadedPicture; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void LoadPicture();

  bool LoadedPicture = false;
};

}  // namespace scoutor

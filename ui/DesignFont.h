#pragma once
// The dialogs are laid out in pixels at 96 dpi for a font of 11 pixels (8 points); they use
// that size of the platform's font so that every caption fits its place. Qt's high-DPI scaling
// scales font and layout alike.
#include <QFont>
#include <QWidget>

namespace scoutor {

inline void UseDesignFont(QWidget& dialog) {
  QFont font = dialog.font();
  font.setPixelSize(11);
  dialog.setFont(font);
}

}  // namespace scoutor

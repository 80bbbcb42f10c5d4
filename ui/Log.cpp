#include "ui/Log.h"

#include <QListWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "appmodel/DebugMode.h"

namespace scoutor {

namespace {

TLogForm* Installed = nullptr;

constexpr int kLineHeight = 13;

}  // namespace

TLogForm::TLogForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle("LogForm");
  setAccessibleName("LogForm");
  resize(433, 180);
  List = new QListWidget(this);
  List->setAccessibleName("LogList");
  List->setUniformItemSizes(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(List);
  Installed = this;
}

TLogForm::~TLogForm() {
  if (Installed == this) Installed = nullptr;
}

void TLogForm::AddLine(const QString& line) {
  auto* item = new QListWidgetItem(line);
  // 13 pixels a line, unless the font needs more.
  item->setSizeHint(QSize(List->fontMetrics().horizontalAdvance(line) + 8,
                          std::max(kLineHeight, List->fontMetrics().height())));
  List->addItem(item);
}

void LogLine(const std::string& line) {
  if (!DebugMode() || Installed == nullptr) return;
  Installed->AddLine(QString::fromStdString(line));
}

}  // namespace scoutor

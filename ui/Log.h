#pragma once
// The log window: one list of diagnostic lines from the whole program, shown at start-up in
// debug mode only. All writers go through LogLine, which keeps a line only while DebugMode is
// on. The list never scrolls by itself; closing the window only hides it.
#include <QWidget>

#include <string>

class QListWidget;

namespace scoutor {

class TLogForm final : public QWidget {
  Q_OBJECT

 public:
  // Becomes the window that LogLine writes to.
  explicit TLogForm(QWidget* parent = nullptr);
  ~TLogForm() override;

  void AddLine(const QString& line);
  QListWidget* LogList() const { return List; }

 private:
  QListWidget* List;
};

// Appends `line` to the log window in debug mode; does nothing otherwise, or while there is
// no log window. Fills TVEPInterface::LogLine.
void LogLine(const std::string& line);

}  // namespace scoutor

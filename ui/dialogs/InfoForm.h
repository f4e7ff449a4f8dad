#pragma once
// A small window that shows a heading and lines of text, growing to fit them: the search
// window's "Usage" window fills it with the command-line options. Enter and Escape close it.
#include "ui/FormBase.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace trawlex {

class TfmInfo : public TfmNMDialog {
  Q_OBJECT
 public:
  explicit TfmInfo(QWidget* owner = nullptr);

  // Shows `title` as the heading; the window widens when the heading would not fit.
  void SetTitle(const QString& title);
  // Appends a line; the window widens when the line would not fit.
  void AddInfoLine(const QString& line);
  // Appends a line as it stands, without widening.
  void AppendLine(const QString& line);
  // The text font: what the system gives for `family` when it is fixed-pitch, else the
  // system's fixed-pitch font.
  void SetFixedFont(const QString& family);

  QLabel* lblTitle = nullptr;
  QPlainTextEdit* memInfo = nullptr;
  QWidget* Panel1 = nullptr;
  QPushButton* btnClose = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The window's height follows the number of lines, so every line shows.
  void memInfoChange();
};

// Opens the search window's usage window through `ref`; only a window created by this call is
// filled (caption, heading, `usageLines` and the two closing hints).
void ShowUsageWindow(QWidget* owner, TfmInfo*& ref, const std::vector<std::string>& usageLines);

}  // namespace trawlex

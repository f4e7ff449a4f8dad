#pragma once
// The window that shows the change set of a replace before anything is written: the unified
// diff, read-only, with removed lines red and added lines green, and "Save as patch..." to
// keep it as a file that `git apply` and `patch -p1` accept. It holds its own copy of the
// bytes, so it depends on nothing of the search it was made from.
#include <QString>
#include <string>

#include "ui/FormBase.h"

class QPlainTextEdit;
class QPushButton;

namespace trawlex {

class TSaveDialog;

class TfmChanges : public TfmGeneric {
  Q_OBJECT
 public:
  explicit TfmChanges(QWidget* owner = nullptr);

  // The bytes of the change set; what "Save as patch..." writes, unchanged.
  void SetChanges(std::string bytes);
  const std::string& Changes() const { return FBytes; }

  // Writes the change set to `path` whole or not at all (a new file beside it, flushed, then
  // renamed over it). False with `error` set when that failed.
  bool SaveAs(const std::string& path, std::string& error) const;

  QPlainTextEdit* memChanges = nullptr;
  QPushButton* btnSave = nullptr;
  QPushButton* btnClose = nullptr;
  TSaveDialog* dlgSavePatch = nullptr;

 private:
  void btnSaveClick();

  std::string FBytes;
};

// The change set as it is shown: bytes decoded as UTF-8 (invalid ones one by one), a CR that
// is not part of the line break shown as a visible mark, NUL bytes likewise.
QString ChangesDisplayText(const std::string& bytes);

}  // namespace trawlex

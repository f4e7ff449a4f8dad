#pragma once
// The base directory of a search: an editable combo box with a history of directories. It knows
// whether its text names an existing directory, shows the volume label and file-system type of
// the mount holding that directory as its tool tip, and takes a folder (or a file, standing for
// its folder) dropped from the file manager.
#include <QComboBox>

namespace trawlex {

class TDirComboBox : public QComboBox {
  Q_OBJECT
  Q_PROPERTY(QString Directory READ Directory WRITE SetDirectory)
 public:
  static constexpr int HistoryLimit = 20;

  explicit TDirComboBox(QWidget* parent = nullptr);

  // The text without a trailing path delimiter (the root "/" stays "/").
  QString Directory() const;
  // Sets the text and runs the change processing.
  void SetDirectory(const QString& directory);
  // Whether the text names an existing directory, as of the last change.
  bool Exists() const { return FExists; }

  // Writes the text back without a trailing delimiter and records it in the history.
  void RecordDirectory();
  // Replaces the text by its absolute form, with "." and ".." resolved and, for an existing
  // folder, symbolic links too.
  void CanonicalizeDirectory();

  // Handles a drop: one folder, or one file standing for its folder; anything else empties
  // the text. Public so that other windows can pass drops on.
  void AcceptDrop(const QMimeData* data);

 signals:
  // After every change of the text and every write of Directory, once Exists and the tool tip
  // are up to date.
  void Changed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void TextChanged();
  bool FExists = false;
  bool FSetting = false;
};

// "/a/b/" gives "/a/b"; the root stays as it is.
QString WithoutTrailingDelimiter(const QString& path);
// The tool tip for a directory text: volume label and, in brackets, file-system type of the
// volume holding it; empty when that cannot be told.
QString DirectoryHint(const QString& path);

}  // namespace trawlex

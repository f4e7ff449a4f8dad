#pragma once
// "Select Directory": a non-modal window with the folder tree, in which the user picks one
// folder after another; each Apply hands the selected folder to the opener (OnDirectoryChosen).
// OK applies and closes, Cancel closes, a double click applies.
#include <functional>

#include "ui/FormBase.h"

class QFileSystemModel;
class QPushButton;
class QTimer;
class QTreeView;

namespace trawlex {

class TfrmSelDir : public TfmNMDialog {
  Q_OBJECT
 public:
  explicit TfrmSelDir(QWidget* owner = nullptr);

  bool UseTopLeftOnly() const override { return false; }

  // The path of the folder selected in the tree; empty when none is.
  QString GetDirectory() const;
  // Selects `path`, or its nearest existing ancestor; a path with no existing ancestor selects
  // nothing.
  void SetDirectory(const QString& path);

  std::function<void(TfrmSelDir&)> OnDirectoryChosen;

  QTreeView* ShellTreeView = nullptr;
  QWidget* pnlButtons = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnApply = nullptr;
  QPushButton* btnCancel = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateFolderModel();
  QTreeView* CreateFolderTree(QWidget* central);
  void KeepSelectedFolderInView();
  QWidget* CreateButtons(QWidget* central);
  void btnApplyClick(QObject* sender);
  void ScrollToSelected();
  QFileSystemModel* FModel = nullptr;
  // The folder SetDirectory selected, kept in view while the tree's model fills in the folders
  // around it; empty once the user selects another one.
  QString FScrollTarget;
  QTimer* FScrollTimer = nullptr;
};

// The path itself when it names an existing directory, else its nearest existing ancestor;
// empty when there is none.
QString NearestExistingDirectory(const QString& path);

}  // namespace trawlex

#include "ui/dialogs/SelDirDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "platform/Platform.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

QString NearestExistingDirectory(const QString& path) {
  QString p = path;
  while (!p.isEmpty() && !DirectoryExists(p.toStdString())) {
    QString parent = p;
    while (parent.size() > 1 && parent.endsWith(QLatin1Char('/'))) parent.chop(1);
    const int slash = parent.lastIndexOf(QLatin1Char('/'));
    parent = slash < 0 ? QString() : (slash == 0 ? QStringLiteral("/") : parent.left(slash));
    // A root that does not exist either: nothing to select.
    p = parent == p ? QString() : parent;
  }
  return p;
}

TfrmSelDir::TfrmSelDir(QWidget* owner) : TfmNMDialog(owner) {
  setObjectName(QStringLiteral("frmSelDir"));
  setWindowTitle(QStringLiteral("Select Directory"));
  resize(252, 234);
  setMinimumHeight(100);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  CreateFolderModel();
  layout->addWidget(CreateFolderTree(central), 1);
  KeepSelectedFolderInView();
  layout->addWidget(CreateButtons(central));
  setCentralWidget(central);
  setMinimumWidth(pnlButtons->minimumSizeHint().width());

  SetDirectory(QDir::homePath());
  ShellTreeView->setFocus();
}

// Every folder from the root, read only.
void TfrmSelDir::CreateFolderModel() {
  FModel = new QFileSystemModel(this);
  FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  FModel->setReadOnly(true);
  FModel->setRootPath(QStringLiteral("/"));
}

// The folders by name alone, one selected at a time; a double click applies it.
QTreeView* TfrmSelDir::CreateFolderTree(QWidget* central) {
  ShellTreeView = new QTreeView(central);
  ShellTreeView->setObjectName(QStringLiteral("ShellTreeView"));
  ShellTreeView->setModel(FModel);
  for (int c = 1; c < FModel->columnCount(); ++c) ShellTreeView->hideColumn(c);
  ShellTreeView->setHeaderHidden(true);
  ShellTreeView->setIndentation(19);
  ShellTreeView->setRootIsDecorated(false);
  ShellTreeView->setSelectionMode(QAbstractItemView::SingleSelection);
  ShellTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ShellTreeView->setUniformRowHeights(true);
  // The selection stays visible while the buttons have the focus.
  QPalette pal = ShellTreeView->palette();
  pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
  pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
  ShellTreeView->setPalette(pal);
  connect(ShellTreeView, &QTreeView::doubleClicked, this, [this] { RunHandler([this] { btnApplyClick(ShellTreeView); }); });
  return ShellTreeView;
}

// The model lists and sorts folders in the background: each folder listed or sorted on the
// way to the selected one moves it, so it is scrolled into view again once the model is done.
void TfrmSelDir::KeepSelectedFolderInView() {
  FScrollTimer = new QTimer(this);
  FScrollTimer->setSingleShot(true);
  FScrollTimer->setInterval(0);
  connect(FScrollTimer, &QTimer::timeout, this, [this] { RunHandler([this] { ScrollToSelected(); }); });
  const auto rescroll = [this] {
    if (!FScrollTarget.isEmpty()) FScrollTimer->start();
  };
  connect(FModel, &QFileSystemModel::directoryLoaded, this, rescroll);
  connect(FModel, &QAbstractItemModel::rowsInserted, this, rescroll);
  connect(FModel, &QAbstractItemModel::layoutChanged, this, rescroll);
}

// OK, Apply and Cancel at the right.
QWidget* TfrmSelDir::CreateButtons(QWidget* central) {
  pnlButtons = new QWidget(central);
  pnlButtons->setObjectName(QStringLiteral("pnlButtons"));
  pnlButtons->setMinimumWidth(190);
  auto* buttons = new QHBoxLayout(pnlButtons);
  buttons->setContentsMargins(6, 6, 6, 6);
  buttons->addStretch(1);
  btnOK = new QPushButton(QStringLiteral("OK"), pnlButtons);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  btnApply = new QPushButton(QStringLiteral("&Apply"), pnlButtons);
  btnApply->setObjectName(QStringLiteral("btnApply"));
  btnCancel = new QPushButton(QStringLiteral("&Cancel"), pnlButtons);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  for (QPushButton* b : {btnOK, btnApply, btnCancel}) {
    b->setMinimumWidth(std::max(b->sizeHint().width(), 56));
    buttons->addWidget(b);
  }
  connect(btnOK, &QPushButton::clicked, this, [this] { RunHandler([this] { btnApplyClick(btnOK); }); });
  connect(btnApply, &QPushButton::clicked, this, [this] { RunHandler([this] { btnApplyClick(btnApply); }); });
  connect(btnCancel, &QPushButton::clicked, this, &QWidget::close);
  return pnlButtons;
}

QString TfrmSelDir::GetDirectory() const {
  const QModelIndex current = ShellTreeView->currentIndex();
  if (!current.isValid() || !ShellTreeView->selectionModel()->isSelected(current)) return {};
  return FModel->filePath(current);
}

void TfrmSelDir::SetDirectory(const QString& path) {
  const QString existing = NearestExistingDirectory(path);
  if (existing.isEmpty()) return;
  const QModelIndex index = FModel->index(QDir::cleanPath(QFileInfo(existing).absoluteFilePath()));
  if (!index.isValid()) return;  // the tree cannot show it: leave the selection as it is
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) ShellTreeView->expand(p);
  ShellTreeView->expand(index);
  ShellTreeView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  FScrollTarget = FModel->filePath(index);
  ShellTreeView->scrollTo(index);
}

void TfrmSelDir::ScrollToSelected() {
  const QModelIndex current = ShellTreeView->currentIndex();
  if (!current.isValid() || FModel->filePath(current) != FScrollTarget) {
    FScrollTarget.clear();  // the user has moved on
    return;
  }
  ShellTreeView->scrollTo(current, QAbstractItemView::PositionAtCenter);
}

void TfrmSelDir::showEvent(QShowEvent* event) {
  TfmNMDialog::showEvent(event);
  // Laid out only now: a scroll asked for before the first show had no rows to go by.
  if (!FScrollTarget.isEmpty()) ScrollToSelected();
}

void TfrmSelDir::btnApplyClick(QObject* sender) {
  if (OnDirectoryChosen) OnDirectoryChosen(*this);
  if (sender == btnOK) close();
}

void TfrmSelDir::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (auto* focused = qobject_cast<QPushButton*>(focusWidget())) {
        focused->click();
      } else {
        btnOK->click();
      }
      return;
    case Qt::Key_Escape:
      btnCancel->click();
      return;
    default:
      TfmNMDialog::keyPressEvent(event);
  }
}

}  // namespace trawlex

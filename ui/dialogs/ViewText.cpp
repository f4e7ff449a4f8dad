#include "ui/dialogs/ViewText.h"

#include <QEvent>
#include <QFile>
#include <QVBoxLayout>
#include <memory>

#include "base/Errors.h"
#include "engine/TextEncoding.h"
#include "ui/lists/ListBox.h"
#include "ui/lists/PainterSurface.h"
#include "ui/controls/StatusBar.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

TfmViewText::TfmViewText(QWidget* owner) : TfmGeneric(owner) {
  setObjectName(QStringLiteral("fmViewText"));
  resize(411, 395);
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  ListBox1 = new TListBox(central);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListBox1->setMouseTracking(true);
  StatusBar = new TStatusBar(central);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->AddPanel(50).SetText(QStringLiteral("Line:"));
  StatusBar->AddPanel(50);
  layout->addWidget(ListBox1, 1);
  layout->addWidget(StatusBar);
  setCentralWidget(central);
  connect(ListBox1, &QListWidget::currentRowChanged, this, [this] { RunHandler([this] { ShowStatus(); }); });
  ListBox1->installEventFilter(this);
  ListBox1->viewport()->installEventFilter(this);
}

void TfmViewText::LoadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw ETrawlexError(Fmt("Cannot open file %s. %s", path.toStdString(), file.errorString().toStdString()));
  }
  QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    throw ETrawlexError(Fmt("Cannot read file %s. %s", path.toStdString(), file.errorString().toStdString()));
  }
  // A UTF-16 file shows its text, line for line as the search numbered it.
  if (std::string text; DecodeUtf16Text(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), text))
    bytes = QByteArray::fromStdString(text);
  setWindowTitle(path);
  QStringList lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c != '\r' && c != '\n') continue;
    lines << DisplayText(std::string_view(bytes.constData() + start, static_cast<size_t>(i - start)));
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines << DisplayText(std::string_view(bytes.constData() + start, static_cast<size_t>(bytes.size() - start)));
  ListBox1->clear();
  ListBox1->addItems(lines);
}

void TfmViewText::SelectLine(int line) {
  const int row = line - 1;
  if (row >= 0 && row < ListBox1->count()) {
    ListBox1->setCurrentRow(row);
    ListBox1->scrollToItem(ListBox1->item(row), QAbstractItemView::PositionAtCenter);
  } else {
    ListBox1->setCurrentRow(-1);
    ListBox1->clearSelection();
  }
  ShowStatus();
}

void TfmViewText::ShowStatus() {
  const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
  SetPanelCount(StatusBar->Panel(0), selected.isEmpty() ? 0 : ListBox1->row(selected.first()) + 1);
}

bool TfmViewText::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyRelease:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
      RunHandler([this] { ShowStatus(); });
      break;
    default:
      break;
  }
  return TfmGeneric::eventFilter(watched, event);
}

void TfmViewText::showEvent(QShowEvent* event) {
  TfmGeneric::showEvent(event);
  ShowStatus();
}

TfmViewText* ShowFileViewer(QWidget* owner, const QString& path, int line, const QFont* font) {
  std::unique_ptr<TfmViewText> viewer(TfmGeneric::Create<TfmViewText>(owner));
  if (font) viewer->ListBox1->setFont(*font);
  SetListItemHeight(*viewer->ListBox1);
  viewer->LoadFile(path);
  viewer->SelectLine(line);
  viewer->show();
  viewer->ListBox1->setFocus();
  return viewer.release();
}

}  // namespace trawlex

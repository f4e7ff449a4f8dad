// The lower half of the search window as a user meets it: selecting a result fills the preview,
// the preview scrolls past its ends, a double-click toggles a find in both lists, the sort
// actions and "Show only filenames" re-list the results, and the tab display window.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFontDialog>
#include <QLabel>
#include <QSpinBox>
#include <QAccessible>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSplitter>
#include <QtTest>

#include "UiTestUtil.h"
#include "config/RegistryConfig.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/TabSettings.h"
#include "ui/Action.h"
#include "ui/ActionList.h"
#include "ui/Application.h"
#include "ui/controls/DirComboBox.h"
#include "ui/lists/PainterSurface.h"
#include "ui/lists/ResultList.h"
#include "ui/services/ShellServices.h"
#include "ui/search/SearchWindow.h"
#include "ui/controls/StatusBar.h"
#include "ui/dialogs/TabDisplayDialog.h"
#include "ui/controls/WildCardMemo.h"

using namespace trawlex;
using namespace trawlex::uitest;

namespace {

// Ten lines and the empty rest after the last line break (11 lines as the program counts
// them), "needle" on lines 0, 5 and 9 (0-based), at column 4 of "xx needle yy".
QByteArray TenLines() {
  QByteArray text;
  for (int i = 0; i < 10; ++i) text += (i == 0 || i == 5 || i == 9) ? "xx needle yy\n" : QByteArray("line ") + QByteArray::number(i) + "\n";
  return text;
}

QPoint RowPoint(TResultList* list, int row, int x = 20) {
  return QPoint(x, (row - list->TopRow()) * list->ItemHeight() + list->ItemHeight() / 2);
}

void ClickRow(TResultList* list, int row) {
  QWidget* window = list->window();
  QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                    list->viewport()->mapTo(window, RowPoint(list, row)));
}

void DoubleClickRow(TResultList* list, int row, int x) { DoubleClickAt(list->viewport(), RowPoint(list, row, x)); }

// The 0-based line numbers the preview shows, and which of them is selected ("*").
QString PreviewLines(TfmSearch* w) {
  QStringList l;
  for (int i = 0; i < w->lstPreview->Count(); ++i) {
    auto* line = static_cast<TSearchLine*>(w->lstPreview->ItemAt(i));
    l << QString::number(line->LineNo()) + (i == w->lstPreview->ItemIndex() ? QStringLiteral("*") : QString());
  }
  return l.join(QLatin1Char(' '));
}

QString Panel(TfmSearch* w, int i) { return w->StatusBar1->Panel(i).Text(); }

// Whether the entry at `row` of `list` shows text in the colour of an unselected find.
bool ShowsAFind(TResultList* list, int row) {
  const QImage image = list->viewport()->grab().toImage();
  const int top = (row - list->TopRow()) * list->ItemHeight() * image.height() / list->viewport()->height();
  for (int y = std::max(0, top); y < std::min(image.height(), top + list->ItemHeight()); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.blue() >= 230 && c.red() <= 100 && c.green() <= 100) return true;
    }
  }
  return false;
}

// Records what would go to the desktop.
}  // namespace

class TResultsPreviewTests : public QObject {
  Q_OBJECT

 public:
  // The application every window of these tests belongs to.
  TApp App;


  QTemporaryDir FDir;
  TfmSearch* W = nullptr;

  QString Write(const QString& name, const QByteArray& content) {
    QFile f(FDir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return f.fileName();
  }

  // A window that has searched FDir for "needle", its preview sized for `lines` lines.
  void Search(int lines = 3) {
    W = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, App);
    W->resize(600, 500);
    QVERIFY(ActivateWindow(W));
    W->cbxTarget->setEditText(QStringLiteral("needle"));
    W->cbxDirectory->SetDirectory(FDir.path());
    W->memPatterns->setPlainText(QStringLiteral("*.txt"));
    QVERIFY(W->acSearch->Execute());
    QTRY_VERIFY_WITH_TIMEOUT(!W->Running(), 30000);
    const int h = W->lstResults->ItemHeight();
    const int strip = W->pnlPreview->height() - W->lstPreview->height();
    const QList<int> sizes = W->splListboxes->sizes();
    const int panel = lines * h + 4 + strip;
    W->splListboxes->setSizes({sizes[0] + sizes[1] - panel, panel});
    QCOMPARE(W->VisiblePreviewLines(), lines);
  }

 private slots:
  void init() {
    // Each test starts from the design settings (the font, say, is kept in them).
    QFile::remove(QString::fromStdString(SettingsFileFor(SettingsRootKey())));
  }
  void cleanup() {
    App.Exit();
    QVERIFY(App.WaitForWorkers(30000));
    FlushDeletes();
  }

  void PreviewAroundTheSelectedResult_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("panel4");
    QTest::addColumn<int>("wideLine");  // a line wider than the list, or -1
    QTest::addColumn<int>("room");      // lines the preview has room for
    // Entries: file, line 0, line 5, line 9.
    QTest::newRow("file item: from the first line") << 0 << "0* 1 2" << "Finds in File: 3" << -1 << 3;
    QTest::newRow("line 0: all after it") << 1 << "0* 1 2" << "Finds in Line: 1" << -1 << 3;
    QTest::newRow("middle: one each side") << 2 << "4 5* 6" << "Finds in Line: 1" << -1 << 3;
    QTest::newRow("last line: all before it") << 3 << "7 8 9*" << "Finds in Line: 1" << -1 << 3;
    // The scroll bar a wide line brings takes room: fewer lines are shown, or with room for
    // one only, the preview grows so that the selected line is not under the bar.
    QTest::newRow("wide line beside it") << 2 << "5*" << "Finds in Line: 1" << 4 << 3;
    QTest::newRow("wide line, room for one") << 2 << "5*" << "Finds in Line: 1" << 5 << 1;
  }
  void PreviewAroundTheSelectedResult() {
    QFETCH(int, row);
    QFETCH(QString, lines);
    QFETCH(QString, panel4);
    QFETCH(int, wideLine);
    QFETCH(int, room);
    QList<QByteArray> text = TenLines().split('\n');
    if (wideLine >= 0) text[wideLine] += " " + QByteArray(3000, 'w');
    Write(QStringLiteral("a.txt"), text.join('\n'));
    Search(room);
    ClickRow(W->lstResults, row);
    QCOMPARE(W->lstResults->ItemIndex(), row);
    if (wideLine >= 0) {
      QVERIFY2(PreviewLines(W).split(QLatin1Char(' ')).contains(lines), qPrintable(PreviewLines(W)));
    } else {
      QCOMPARE(PreviewLines(W), lines);
    }
    // Every line shown is seen whole, above the scroll bar when there is one.
    QVERIFY2(W->lstPreview->Count() * W->lstPreview->ItemHeight() <= W->lstPreview->viewport()->height(),
             qPrintable(PreviewLines(W)));
    QCOMPARE(W->lblPreviewFile->text(), FDir.filePath(QStringLiteral("a.txt")));
    // Ten lines and a closing line break: the preview can show ten lines, and says so.
    QCOMPARE(W->lblLineCount->text(), QStringLiteral(" (10 lines)"));
    QCOMPARE(Panel(W, 4), panel4);
    // The panel shows whole lines.
    if (wideLine < 0) {
      QCOMPARE(W->pnlPreview->height(),
               room * W->lstPreview->ItemHeight() + (W->pnlPreview->height() - W->lstPreview->height()) + 4);
    }
    SaveShot(W, QStringLiteral("preview-") + QString::number(row));
  }

  void PreviewScrollsPastItsEnds() {
    Write(QStringLiteral("a.txt"), TenLines());
    Search();
    ClickRow(W->lstResults, 2);  // line 5: 4 5* 6
    ClickRow(W->lstPreview, 2);  // the user moves to the preview's last line
    QCOMPARE(PreviewLines(W), QStringLiteral("4 5 6*"));
    PressKey(Qt::Key_Down);
    QCOMPARE(PreviewLines(W), QStringLiteral("5 6 7*"));
    PressKey(Qt::Key_PageDown);  // a page less one line
    QCOMPARE(PreviewLines(W), QStringLiteral("7 8 9*"));
    PressKey(Qt::Key_Down);  // the file's last line: nothing changes
    QCOMPARE(PreviewLines(W), QStringLiteral("7 8 9*"));
    PressKey(Qt::Key_Home);
    PressKey(Qt::Key_PageUp);
    QCOMPARE(PreviewLines(W), QStringLiteral("5* 6 7"));
    for (int i = 0; i < 6; ++i) PressKey(Qt::Key_Up);
    QCOMPARE(PreviewLines(W), QStringLiteral("0* 1 2"));
    QCOMPARE(W->lstResults->Count(), 4);  // the results are untouched
  }

  // A file larger than the preview reads whole: it reads the lines around the result, and
  // again around the line it scrolls to.
  void PreviewOfALargeFile() {
    QByteArray big;
    for (int i = 0; i < 140000; ++i)  // 4.8 MB
      big += i == 120000 || i == 139999 ? "a line with a needle in it\r\n" : "a line of filler, of some length\r\n";
    QFile::remove(FDir.filePath(QStringLiteral("a.txt")));
    Write(QStringLiteral("big.txt"), big);
    const auto removeBig = qScopeGuard([this] { QFile::remove(FDir.filePath(QStringLiteral("big.txt"))); });
    Search();
    ClickRow(W->lstResults, 1);
    QCOMPARE(PreviewLines(W), QStringLiteral("119999 120000* 120001"));
    ClickRow(W->lstPreview, 2);
    PressKey(Qt::Key_Down);
    QCOMPARE(PreviewLines(W), QStringLiteral("120000 120001 120002*"));
    ClickRow(W->lstResults, 2);
    QCOMPARE(PreviewLines(W), QStringLiteral("139997 139998 139999*"));
    QCOMPARE(W->lblLineCount->text(), QStringLiteral(" (140000 lines)"));
  }

  void DoubleClickTogglesAFindInBothLists() {
    Write(QStringLiteral("a.txt"), TenLines());
    Search();
    ClickRow(W->lstResults, 2);  // line 5
    const int before = W->SelectedFindCount();
    auto* result = static_cast<TSearchLine*>(W->lstResults->ItemAt(2));
    const QFontMetrics fm(W->ResultsFont());
    const int findX = W->Params()->LineNoWidth() + fm.horizontalAdvance(QStringLiteral("xx ")) + 3;
    // Beside a find (the line number, the text after it) nothing changes.
    DoubleClickRow(W->lstPreview, 1, 2);
    DoubleClickRow(W->lstPreview, 1, findX + fm.horizontalAdvance(QStringLiteral("needle yy")));
    QCOMPARE(W->SelectedFindCount(), before);
    const bool was = result->GetFindSelected(0);
    DoubleClickRow(W->lstPreview, 1, findX);
    auto* shown = static_cast<TSearchLine*>(W->lstPreview->ItemAt(1));
    QCOMPARE(shown->GetFindSelected(0), !was);
    QCOMPARE(result->GetFindSelected(0), !was);
    QCOMPARE(W->SelectedFindCount(), before + (was ? -1 : 1));
    QCOMPARE(Panel(W, 3), QStringLiteral("Selected: %1").arg(W->SelectedFindCount()));
    // And back, from the results list this time.
    DoubleClickRow(W->lstResults, 2, findX);
    QCOMPARE(result->GetFindSelected(0), was);
    QCOMPARE(static_cast<TSearchLine*>(W->lstPreview->ItemAt(1))->GetFindSelected(0), was);
    QCOMPARE(W->SelectedFindCount(), before);
    // Select All and Deselect All reach the preview too.
    for (const auto& [key, selected] : {std::pair{Qt::Key_A, true}, {Qt::Key_U, false}}) {
      PressKey(key, Qt::ControlModifier);
      QCOMPARE(static_cast<TSearchLine*>(W->lstPreview->ItemAt(1))->GetFindSelected(0), selected);
      QCOMPARE(result->GetFindSelected(0), selected);
    }
  }

  void PreviewOfADeletedFileShowsTheErrorAndLeavesTheResults() {
    Write(QStringLiteral("a.txt"), TenLines());
    const QString gone = Write(QStringLiteral("b.txt"), TenLines());
    Search();
    QCOMPARE(W->lstResults->Count(), 8);
    QFile::remove(gone);
    QString text;
    AnswerMessageBox(QMessageBox::Ok, nullptr, &text);
    ClickRow(W->lstResults, 4);  // b.txt
    QTRY_VERIFY(!text.isEmpty());
    QVERIFY2(text.contains(QStringLiteral("b.txt")), qPrintable(text));
    QCOMPARE(W->lstPreview->Count(), 0);
    QVERIFY(!W->PreviewFile());
    QCOMPARE(W->lstResults->Count(), 8);
    W->splListboxes->setSizes({200, 120});  // a later splitter move shows no further error
    W->RerunPreview();
    ClickRow(W->lstResults, 1);
    QCOMPARE(W->lstPreview->Count(), W->VisiblePreviewLines());
  }

  void SortingAndFilenamesKeepTheSelectedFile() {
    Write(QStringLiteral("a.txt"), TenLines());                                // 3 finds, larger
    Write(QStringLiteral("b.txt"), "needle\n");                               // 1 find, smallest
    Write(QStringLiteral("c.txt"), "needle\nneedle needle\n" + QByteArray(30, 'z'));  // 3 finds
    Search();
    auto names = [&] {
      QStringList l;
      for (int i = 0; i < W->lstResults->Count(); ++i)
        if (auto* f = dynamic_cast<TSearchFile*>(W->lstResults->ItemAt(i))) l << QFileInfo(QString::fromStdString(f->Name)).fileName();
      return l.join(QLatin1Char(' '));
    };
    QCOMPARE(names(), QStringLiteral("a.txt b.txt c.txt"));
    QCOMPARE(W->StatusBar1->Panel(5).Width(), 0);  // "Full name" shows no panel
    ClickRow(W->lstResults, 4);  // b.txt
    PressKey(Qt::Key_F2, Qt::ShiftModifier);  // Sort by Size
    QCOMPARE(names(), QStringLiteral("b.txt c.txt a.txt"));
    QCOMPARE(Panel(W, 5), QStringLiteral("Size"));
    QVERIFY(W->SortActions[1]->isChecked() && !W->SortActions[0]->isChecked());
    W->ActionList1->UpdateAll();
    QVERIFY(!W->SortActions[1]->isEnabled());  // the current order
    W->acDescending->trigger();
    QCOMPARE(names(), QStringLiteral("a.txt c.txt b.txt"));
    QCOMPARE(static_cast<TSearchFile*>(W->lstResults->ItemAt(W->lstResults->ItemIndex()))->Name,
             FDir.filePath(QStringLiteral("b.txt")).toStdString());
    const int lines = W->lstResults->Count();
    W->acHideResultLines->trigger();  // only file items, same order
    QCOMPARE(W->lstResults->Count(), 3);
    QCOMPARE(names(), QStringLiteral("a.txt c.txt b.txt"));
    QCOMPARE(W->lstResults->ItemIndex(), 2);
    W->acHideResultLines->trigger();
    QCOMPARE(W->lstResults->Count(), lines);
    QCOMPARE(static_cast<TSearchFile*>(W->lstResults->ItemAt(W->lstResults->ItemIndex()))->Name,
             FDir.filePath(QStringLiteral("b.txt")).toStdString());
  }

  void FontChangeRebuildsPreviewAndLabelOpensTheFile() {
    Write(QStringLiteral("a.txt"), TenLines());
    Search();
    ClickRow(W->lstResults, 2);
    ClickRow(W->lstPreview, 2);  // the preview's own selection is kept
    QFont big = W->ResultsFont();
    big.setPixelSize(QFontMetrics(W->ResultsFont()).height() * 2);
    const int extent = W->lstResults->HorizontalExtent();
    WhenModal<QFontDialog>([big](QFontDialog* d) {
      d->setCurrentFont(big);
      d->accept();
    });
    PressKey(Qt::Key_F, Qt::ControlModifier);
    QVERIFY(W->lstResults->ItemHeight() > big.pixelSize() / 2 + 2);  // the chosen, larger font
    QCOMPARE(W->lstResults->ItemHeight(), QFontMetrics(W->ResultsFont()).height());
    QCOMPARE(W->lstPreview->ItemHeight(), QFontMetrics(W->ResultsFont()).height());
    QVERIFY(W->lstResults->HorizontalExtent() > extent);
    QCOMPARE(W->lstPreview->Count(), W->VisiblePreviewLines());
    // Around the same line (5); a taller font leaves room for fewer lines in the same height.
    QCOMPARE(W->VisiblePreviewLines(), 1);
    QCOMPARE(PreviewLines(W), QStringLiteral("5*"));
    TRecordingShell shell;
    App.SetShell(&shell);
    DoubleClickAt(W->lblPreviewFile, W->lblPreviewFile->rect().center());
    App.SetShell(nullptr);
    QCOMPARE(shell.Calls, QStringList{"open " + QUrl::fromLocalFile(FDir.filePath(QStringLiteral("a.txt"))).toString()});
  }

  void ListsTellAssistiveToolsTheirEntries() {
    Write(QStringLiteral("a.txt"), TenLines());
    Search();
    ClickRow(W->lstResults, 2);
    for (TResultList* list : {W->lstResults, W->lstPreview}) {
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(list);
      QVERIFY(a);
      QCOMPARE(a->role(), QAccessible::List);
      QCOMPARE(a->childCount(), list->Count());
    }
    QAccessibleInterface* results = QAccessible::queryAccessibleInterface(W->lstResults);
    QCOMPARE(results->child(0)->text(QAccessible::Name), FDir.filePath(QStringLiteral("a.txt")));
    QAccessibleInterface* entry = results->child(2);
    QCOMPARE(entry->role(), QAccessible::ListItem);
    QCOMPARE(entry->text(QAccessible::Name), QStringLiteral("6: xx needle yy"));
    QVERIFY(entry->state().selected && !results->child(1)->state().selected);
    QCOMPARE(results->indexOfChild(entry), 2);
    QCOMPARE(QAccessible::queryAccessibleInterface(W->lstPreview)->child(0)->text(QAccessible::Name),
             QStringLiteral("5: line 4"));
  }

  void ALongLineShowsItsFindsWithoutBeingMeasuredWhole() {
    // A line of 3 MB (a generated index, say) with finds in its middle and near its end.
    for (const QString& name : QDir(FDir.path()).entryList(QDir::Files)) QFile::remove(FDir.filePath(name));
    QByteArray line(3 << 20, 'x');
    line.replace(1500000, 6, "needle");
    line.replace(line.size() - 10, 6, "needle");
    Write(QStringLiteral("long.txt"), "short needle\n" + line + "\nend\n");
    const uint64_t before = TPainterSurface::CharsShaped();
    Search(3);
    ClickRow(W->lstResults, 1);  // the short line; the preview shows the long one below it
    QCOMPARE(W->lstResults->Count(), 3);
    QVERIFY(ShowsAFind(W->lstResults, 2));  // the middle find shows without scrolling
    QVERIFY(ShowsAFind(W->lstPreview, 1));
    // Sideways, a page per click on the scroll bar, to the end: the last find shows there.
    QScrollBar* bar = W->lstResults->horizontalScrollBar();
    const QPoint trough = bar->mapTo(W, QPoint(bar->width() - 3 * bar->height(), bar->height() / 2));
    for (int i = 0; i < 200 && bar->value() < bar->maximum(); ++i)
      QTest::mouseClick(W->windowHandle(), Qt::LeftButton, Qt::NoModifier, trough);
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(bar->maximum() < 20000);  // stretches around the finds, not three million characters
    QVERIFY(ShowsAFind(W->lstResults, 2));
    // Searching, listing, previewing and drawing gave the text engine a few screens of text.
    QVERIFY2(TPainterSurface::CharsShaped() - before < 64 * 1024, qPrintable(QString::number(TPainterSurface::CharsShaped() - before)));
    // Copying the line takes all of it.
    PressKey(Qt::Key_Down);
    PressKey(Qt::Key_C, Qt::ControlModifier);
    QVERIFY(QApplication::clipboard()->text().endsWith(QString::fromLatin1(line)));
  }

  void TabDisplayWindowChangesTheSettingAtOnce() {
    Write(QStringLiteral("a.txt"), TenLines());
    Search();
    W->acTabDisplayPrefs->trigger();
    QVERIFY(TabDisplayDialog);
    TfmTabDisplay* d = TabDisplayDialog;
    W->acTabDisplayPrefs->trigger();  // one for the whole application
    QCOMPARE(TabDisplayDialog, d);
    QCOMPARE(d->windowTitle(), QStringLiteral("Tab display options"));
    d->chkExpandTabs->setChecked(true);
    d->chkExpandTabs->click();
    QVERIFY(!App.TabDisplay().Get().ExpandTabs);
    QVERIFY(!d->lblSpaces->isEnabled() && !d->spnSpacesPerTab->isEnabled());
    d->chkExpandTabs->click();
    d->spnSpacesPerTab->setValue(8);
    QCOMPARE(App.TabDisplay().Get().SpacesPerTab, 8);
    d->spnSpacesPerTab->setValue(0);
    QCOMPARE(d->spnSpacesPerTab->value(), 1);
    d->spnSpacesPerTab->setValue(1000);
    QCOMPARE(d->spnSpacesPerTab->value(), 100);
    d->close();
    FlushDeletes();
    QVERIFY(!TabDisplayDialog);
    App.TabDisplay().Set({true, 4});
  }
};

QTEST_MAIN(TResultsPreviewTests)
#include "ResultsPreviewTests.moc"

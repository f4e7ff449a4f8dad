// The pattern memo and its history, the directory combo box, the log window and the folder
// dialog, each as a user meets it; pictures of the windows go to the shots folder.
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeView>

#include "base/TextUtils.h"
#include "platform/Platform.h"
#include "ui/ActionList.h"
#include "ui/controls/DirComboBox.h"
#include "ui/lists/ListBox.h"
#include "ui/dialogs/ListForm.h"
#include "ui/dialogs/SelDirDialog.h"
#include "ui/controls/StatusBar.h"
#include "ui/services/TextPrinter.h"
#include "ui/UiTestUtil.h"
#include "ui/controls/WildCardMemo.h"

using namespace trawlex;
using namespace trawlex::uitest;

namespace {

QStringList Lines(TWildCardMemo& m) {
  QStringList l;
  for (const std::string& s : m.LinesAdapter().GetLines()) l << QString::fromStdString(s);
  return l;
}

QStringList History(TWildCardMemo& m) {
  QStringList l;
  for (int i = 0; i < m.History().Count(); ++i) l << m.History().Get(i);
  return l;
}

void Drop(QWidget* target, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
}

}  // namespace

class ControlTests : public QObject {
  Q_OBJECT
 private slots:
  // ---- Pattern memo ---------------------------------------------------------------------

  void PatternTextForms_data() {
    QTest::addColumn<QString>("oneLine");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("back");
    QTest::newRow("two patterns") << "*.txt|*.log" << QStringList{"*.txt", "*.log"} << "*.txt|*.log";
    QTest::newRow("blanks trimmed, final bar gives an empty line")
        << " *.c | *.h |" << QStringList{"*.c", "*.h", ""} << "*.c|*.h";
    QTest::newRow("empty field inside") << "a||b" << QStringList{"a", "", "b"} << "a||b";
  }
  void PatternTextForms() {
    QFETCH(QString, oneLine);
    QFETCH(QStringList, lines);
    QFETCH(QString, back);
    QWidget host;
    TWildCardMemo memo(&host);
    memo.SetPatternsText(oneLine);
    QCOMPARE(Lines(memo), lines);
    QCOMPARE(memo.LineCount(), lines.size());
    QCOMPARE(memo.GetPatternsText(), back);
  }

  void LineBreakAtTheEndBeginsNoPattern_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("one-line") << "*.h" << QStringList{"*.h"};
    QTest::newRow("one-line-and-break") << "*.h\n" << QStringList{"*.h"};
    QTest::newRow("break-only") << "\n" << QStringList{""};
    QTest::newRow("empty-line-then-break") << "*.c\n\n" << QStringList{"*.c", ""};
    QTest::newRow("empty-line-inside") << "*.c\n\n*.h" << QStringList{"*.c", "", "*.h"};
  }
  void LineBreakAtTheEndBeginsNoPattern() {
    QFETCH(QString, typed);
    QFETCH(QStringList, lines);
    QWidget host;
    TWildCardMemo memo(&host);
    memo.setPlainText(typed);
    QCOMPARE(Lines(memo), lines);
    QCOMPARE(memo.LineCount(), lines.size());
    // Written back, the same lines read back.
    memo.LinesAdapter().SetLines(memo.LinesAdapter().GetLines());
    QCOMPARE(Lines(memo), lines);
  }

  void NewlyParentedMemoShowsAllFiles() {
    QWidget host;
    auto* loose = new TWildCardMemo;
    QCOMPARE(loose->toPlainText(), QString());
    loose->setParent(&host);
    QCOMPARE(loose->toPlainText(), QStringLiteral("*.*"));
    TWildCardMemo inHost(&host);
    QCOMPARE(inHost.toPlainText(), QStringLiteral("*.*"));
  }

  void HistoryKeepsTenMostRecentWithoutDoubles() {
    QWidget host;
    TWildCardMemo memo(&host);
    for (int i = 0; i < 11; ++i) {
      memo.SetPatternsText(QStringLiteral("*.e%1").arg(i));
      memo.AddToHistory();
    }
    QCOMPARE(memo.History().Count(), 10);
    QCOMPARE(memo.History().Get(0), QStringLiteral("*.e10"));
    QCOMPARE(memo.History().Get(9), QStringLiteral("*.e1"));  // *.e0 was pushed out
    memo.SetPatternsText(QStringLiteral("*.E5"));
    memo.AddToHistory();
    QCOMPARE(memo.History().Count(), 10);
    QCOMPARE(memo.History().Get(0), QStringLiteral("*.e5"));  // moved, old capitalisation kept
    memo.setPlainText(QStringLiteral("  \n\n "));
    memo.AddToHistory();
    QCOMPARE(memo.History().Get(0), QString());  // blank lines only: an empty entry
    // A history loaded longer than the limit is cut back to it by the next search.
    for (int i = 0; i < 15; ++i) memo.History().Add(QStringLiteral("*.old%1").arg(i));
    memo.SetPatternsText(QStringLiteral("*.e5"));
    memo.AddToHistory();
    QCOMPARE(memo.History().Count(), 10);
    QCOMPARE(memo.History().Get(0), QStringLiteral("*.e5"));
  }

  void ChoosingAnEntryRestoresTheLinesAndMovesItFirst() {
    QWidget host;
    TWildCardMemo memo(&host);
    memo.History().SetLines({"*.cpp|*.h", "*.txt|*.log", "a&b"});
    QCOMPARE(memo.HistoryMenu()->actions().at(2)->text(), QStringLiteral("a&&b"));  // shown as it is
    int notified = 0;
    memo.OnUsePrevious = [&](TWildCardMemo& m) {
      QCOMPARE(&m, &memo);
      ++notified;
    };
    memo.HistoryMenu()->actions().at(1)->trigger();
    QCOMPARE(Lines(memo), (QStringList{"*.txt", "*.log"}));
    QCOMPARE(History(memo), (QStringList{"*.txt|*.log", "*.cpp|*.h", "a&b"}));
    QCOMPARE(notified, 1);
  }

  void FailingHandlerIsShownWhereItRuns_data() {
    QTest::addColumn<int>("kind");  // 0 std::exception, 1 out of memory, 2 anything else
    QTest::addColumn<QString>("shown");
    QTest::newRow("error") << 0 << "Disk full";
    QTest::newRow("out-of-memory") << 1 << "Out of memory";
    QTest::newRow("unknown") << 2 << "Unknown error";
  }
  void FailingHandlerIsShownWhereItRuns() {
    // A handler reached through Qt's signals: its failure is shown by the handler's side and
    // never reaches Qt (this test's application object catches nothing).
    QFETCH(int, kind);
    QFETCH(QString, shown);
    QWidget host;
    TWildCardMemo memo(&host);
    memo.History().SetLines({"*.a"});
    memo.OnUsePrevious = [kind](TWildCardMemo&) {
      if (kind == 0) throw std::runtime_error("Disk full");
      if (kind == 1) throw std::bad_alloc();
      throw 42;
    };
    QString title, text;
    AnswerMessageBox(QMessageBox::Ok, &title, &text);
    memo.HistoryMenu()->actions().at(0)->trigger();
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(text, shown);
    QCOMPARE(memo.toPlainText(), QStringLiteral("*.a"));  // what ran before the failure stays
  }

  void UseLastPatternsNeedsAHistory() {
    QWidget host;
    TWildCardMemo memo(&host);
    memo.setPlainText(QStringLiteral("*.md"));
    memo.UseLastPatterns();
    QCOMPARE(memo.toPlainText(), QStringLiteral("*.md"));
    memo.History().SetLines({"*.a|*.b"});
    memo.UseLastPatterns();
    QCOMPARE(Lines(memo), (QStringList{"*.a", "*.b"}));
  }

  void HistoryPersistsThroughTheStore() {
    TTestStore store;
    {
      QWidget host;
      TWildCardMemo memo(&host);
      memo.SetPatternsText(QStringLiteral("*.x|*.y"));
      memo.AddToHistory();
      TBaseCfgList list(store.Open(), "fmSearch");
      list.AddStrings(memo.History(), "WildCardMemo.History");
      list.SaveAll();
    }
    QWidget host;
    TWildCardMemo memo(&host);
    TBaseCfgList list(store.Open(), "fmSearch");
    list.AddStrings(memo.History(), "WildCardMemo.History");
    list.LoadAll();
    QCOMPARE(History(memo), QStringList{"*.x|*.y"});
  }

  void MenuStringsIndexChecks() {
    QMenu menu;
    TMenuStrings s(&menu, {});
    s.Add(QStringLiteral("One"));
    QCOMPARE(s.IndexOf(QStringLiteral("ONE")), 0);
    QCOMPARE(s.IndexOf(QStringLiteral("two")), -1);
    s.PutObject(0, 7);
    QCOMPARE(s.GetObject(0), 7);
    QVERIFY_THROWS_EXCEPTION(ETrawlexError, s.Get(1));
    QVERIFY_THROWS_EXCEPTION(ETrawlexError, s.Insert(3, QStringLiteral("x")));
    s.Clear();
    QCOMPARE(s.Count(), 0);
  }

  // ---- Directory combo box -----------------------------------------------------------------

  void DirectoryExistsAndTrailingDelimiter_data() {
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<bool>("exists");
    QTest::newRow("with delimiter") << "/work/" << "/work" << true;
    QTest::newRow("without") << "/work" << "/work" << true;
    QTest::newRow("missing") << "/gone/" << "/gone" << false;
  }
  void DirectoryExistsAndTrailingDelimiter() {
    QFETCH(QString, suffix);
    QFETCH(QString, directory);
    QFETCH(bool, exists);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("work")));
    TDirComboBox combo;
    QSignalSpy changed(&combo, &TDirComboBox::Changed);
    combo.setEditText(dir.path() + suffix);  // as typed
    QCOMPARE(combo.Directory(), dir.path() + directory);
    QCOMPARE(combo.Exists(), exists);
    QCOMPARE(changed.count(), 1);
  }

  void RootStaysTheRoot() {
    TDirComboBox combo;
    combo.SetDirectory(QStringLiteral("/"));
    QCOMPARE(combo.Directory(), QStringLiteral("/"));
    QVERIFY(combo.Exists());
  }

  void HintNamesTheVolume() {
    TDirComboBox combo;
    combo.SetDirectory(QStringLiteral("/"));
    std::string fs, label;
    QVERIFY(VolumeInfo("/", fs, label));
    QVERIFY(combo.toolTip().endsWith(QStringLiteral("(") + QString::fromStdString(fs) + QStringLiteral(")")));
    combo.SetDirectory(QStringLiteral("relative"));
    QCOMPARE(combo.toolTip(), QString());  // no root, no hint
  }

  void DropsTakeOneFolderOrAFilesFolder() {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("a.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    TDirComboBox combo;
    combo.SetDirectory(QStringLiteral("/somewhere"));
    Drop(&combo, {QUrl::fromLocalFile(dir.path())});
    QCOMPARE(combo.currentText(), dir.path());
    QVERIFY(combo.Exists());
    Drop(combo.lineEdit(), {QUrl::fromLocalFile(file.fileName())});
    QCOMPARE(combo.currentText(), dir.path() + QLatin1Char('/'));
    Drop(&combo, {QUrl::fromLocalFile(dir.path()), QUrl::fromLocalFile(file.fileName())});
    QCOMPARE(combo.currentText(), QString());
    QVERIFY(!combo.Exists());
  }

  void RecordAndCanonicalize() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    TDirComboBox combo;
    combo.addItems({QStringLiteral("/x"), dir.path()});
    combo.SetDirectory(dir.path() + QStringLiteral("/sub/../"));
    combo.CanonicalizeDirectory();
    QCOMPARE(combo.currentText(), QFileInfo(dir.path()).canonicalFilePath());
    combo.SetDirectory(dir.path() + QLatin1Char('/'));
    combo.RecordDirectory();
    QCOMPARE(combo.itemText(0), dir.path());
    QCOMPARE(combo.count(), 2);
    QCOMPARE(combo.maxVisibleItems(), 20);
  }

  // ---- Log window --------------------------------------------------------------------------

  void LogWindowActionsAndColumns() {
    auto* form = TfmGeneric::CreateUnbound<TListForm>(nullptr);
    form->setWindowTitle(QStringLiteral("Error Log"));
    form->ActionList1->UpdateAll();
    QVERIFY(!form->acClear->isEnabled());
    QVERIFY(!form->acPrint->isEnabled());
    QVERIFY(!form->acSave->isEnabled());
    QVERIFY(form->acIncreaseColumns->isEnabled());
    QCOMPARE(form->acSave->statusTip(), QStringLiteral("Save list lines to file"));
    QCOMPARE(form->PopupMenu1->actions().size(), 5);
    QStringList shown;
    for (int step : {+1, +1, -1}) {
      (step > 0 ? form->acIncreaseColumns : form->acDecreaseColumns)->Execute();
      shown << form->StatusBar1->Panel(0).Text();
    }
    QCOMPARE(shown, (QStringList{"1", "2", "1"}));
    QVERIFY(!form->acDecreaseColumns->Execute());  // never back to 0 through the actions
    QCOMPARE(form->ColumnCount(), 1);
    form->SetLines({QStringLiteral("first"), QStringLiteral("second")});
    form->AddLine(QStringLiteral("late"));
    QCOMPARE(form->Lines(), (QStringList{"first", "second", "late"}));
    form->ActionList1->UpdateAll();
    QVERIFY(form->acClear->isEnabled() && form->acSave->isEnabled() && form->acPrint->isEnabled());
    QVERIFY(form->acClear->Execute());
    QCOMPARE(form->LineCount(), 0);
    delete form;
  }

  void LogWindowScrollsSidewaysToTheEndOfItsLongestLine() {
    auto* form = TfmGeneric::CreateUnbound<TListForm>(nullptr);
    form->show();
    const QString longLine = QStringLiteral("/a/deep/folder/") + QString(200, QLatin1Char('x')) + QStringLiteral(".txt: Permission denied");
    form->SetLines({QStringLiteral("short")});
    form->AddLine(longLine);  // not the first line: every line's width counts
    RunLoop(20);
    QScrollBar* bar = form->ListBox1->horizontalScrollBar();
    const int needed = QFontMetrics(form->ListBox1->font()).horizontalAdvance(longLine);
    QVERIFY2(bar->maximum() + form->ListBox1->viewport()->width() >= needed,
             qPrintable(QStringLiteral("%1 + %2 < %3").arg(bar->maximum()).arg(form->ListBox1->viewport()->width()).arg(needed)));
    QVERIFY(bar->isVisible());
    form->acClear->Execute();
    RunLoop(20);
    QCOMPARE(bar->maximum(), 0);
    delete form;
  }

  void LogWindowSavesLinesWithCrLf() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    auto* form = TfmGeneric::CreateUnbound<TListForm>(nullptr);
    form->SetLines({QStringLiteral("a: failed"), QStringLiteral("ü")});
    WhenModal<QFileDialog>([&](QFileDialog* fd) { TypeFileName(fd, path); });
    QVERIFY(form->acSave->Execute());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("a: failed\r\nü\r\n"));
    delete form;
  }

  void LogWindowDrawsLineFontsAndSelection() {
    auto* form = TfmGeneric::CreateUnbound<TListForm>(nullptr);
    form->setWindowTitle(QStringLiteral("Error Log"));
    form->resize(300, 200);
    QFont bold = form->ListBox1->font();
    bold.setBold(true);
    form->AddLine(QStringLiteral("/home/ann/src/a.cpp: Permission denied"));
    form->AddLine(QStringLiteral("Bold line in its own font"), bold);
    form->AddLine(QStringLiteral("/home/ann/src/b.cpp: No such file or directory"));
    QCOMPARE(form->ListBox1->ItemFont(1).bold(), true);
    QCOMPARE(form->ListBox1->ItemFont(0).bold(), false);
    form->ListBox1->setCurrentRow(2);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    const QImage shot = form->grab().toImage();
    SaveShot(form, QStringLiteral("ListForm"));
    // The selected line is filled with the highlight colour.
    const QRect r = form->ListBox1->visualItemRect(form->ListBox1->item(2));
    const QPoint inList = form->ListBox1->viewport()->mapTo(form, r.topLeft() + QPoint(r.width() - 3, 2));
    QCOMPARE(shot.pixelColor(inList * shot.devicePixelRatio()),
             form->ListBox1->palette().color(QPalette::Active, QPalette::Highlight));
    delete form;
  }

  void LogWindowPrintsEveryLineToPdf() {
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty()) QSKIP("pdftotext (poppler-utils) is not installed");
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("log.pdf"));
    auto* form = TfmGeneric::CreateUnbound<TListForm>(nullptr);
    QFont bold = form->ListBox1->font();
    bold.setBold(true);
    form->AddLine(QStringLiteral("first line"));
    form->AddLine(QStringLiteral("second line in bold"), bold);
    for (int i = 0; i < 120; ++i) form->AddLine(QStringLiteral("line %1").arg(i));  // more than one page
    auto printer = PdfPrinter(pdf);
    form->PrintTo(*printer);
    QVERIFY(!QApplication::overrideCursor());
    QProcess p;
    p.start(pdftotext, {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(p.waitForFinished(20000));
    const QStringList text = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    QStringList lines;
    for (const QString& l : text) {
      if (!l.trimmed().isEmpty()) lines << l.trimmed();
    }
    QCOMPARE(lines.size(), 122);
    QCOMPARE(lines.first(), QStringLiteral("first line"));
    QCOMPARE(lines.at(1), QStringLiteral("second line in bold"));
    QCOMPARE(lines.last(), QStringLiteral("line 119"));
    QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).isEmpty());
    QVERIFY(text.join(QLatin1Char('\n')).contains(QChar(0x0c)));  // a page break
    delete form;
  }

  // ---- Folder dialog ------------------------------------------------------------------------

  void FolderDialogStartsAtHomeAndWalksUpToAnExistingFolder() {
    auto* d = TfmGeneric::CreateUnbound<TfrmSelDir>(nullptr);
    QCOMPARE(d->windowTitle(), QStringLiteral("Select Directory"));
    QCOMPARE(d->GetDirectory(), QDir::homePath());
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Work")));
    d->SetDirectory(dir.path() + QStringLiteral("/Work/Old/Older"));
    QCOMPARE(d->GetDirectory(), dir.path() + QStringLiteral("/Work"));
    d->SetDirectory(QStringLiteral("relative/missing"));  // no existing ancestor: nothing changes
    QCOMPARE(d->GetDirectory(), dir.path() + QStringLiteral("/Work"));
    delete d;
    QCOMPARE(NearestExistingDirectory(QStringLiteral("/no-such-root/x")), QStringLiteral("/"));
    QCOMPARE(NearestExistingDirectory(QStringLiteral("nowhere/x")), QString());
  }

  void FolderDialogShowsTheSelectedFolder() {
    // Many folders before the chosen one: the tree lists them only after the dialog opens.
    QTemporaryDir dir;
    for (int i = 0; i < 300; ++i) QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("d%1").arg(i, 3, 10, QLatin1Char('0'))));
    const QString chosen = dir.filePath(QStringLiteral("d250"));
    TfrmSelDir* d = nullptr;
    QVERIFY(ShowNMDialog(nullptr, d, false));
    d->SetDirectory(chosen);
    QCOMPARE(d->GetDirectory(), chosen);
    QTreeView* tree = d->ShellTreeView;
    // Once the folders around it are listed, the chosen one is in view.
    QTRY_VERIFY_WITH_TIMEOUT(tree->model()->rowCount(tree->currentIndex().parent()) == 300, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex())), 5000);
    QCOMPARE(d->GetDirectory(), chosen);
    d->close();
    FlushDeletes();
  }

  void FolderDialogApplyOkCancelAndDoubleClick() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("one")));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("two")));
    TfrmSelDir* d = nullptr;
    QVERIFY(ShowNMDialog(nullptr, d, false));
    QPointer<TfrmSelDir> alive = d;
    QStringList chosen;
    d->OnDirectoryChosen = [&](TfrmSelDir& dlg) { chosen << dlg.GetDirectory(); };
    QVERIFY(ActivateWindow(d));
    d->SetDirectory(dir.filePath(QStringLiteral("one")));
    ClickAt(d->btnApply);
    d->SetDirectory(dir.filePath(QStringLiteral("two")));
    ClickAt(d->btnApply);
    QCOMPARE(chosen, (QStringList{dir.filePath("one"), dir.filePath("two")}));
    QVERIFY(d->isVisible());  // applying keeps the window open
    QTreeView* tree = d->ShellTreeView;
    QTRY_VERIFY(tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex())));
    DoubleClickAt(tree->viewport(), tree->visualRect(tree->currentIndex()).center());
    QCOMPARE(chosen.size(), 3);
    QCOMPARE(chosen.last(), dir.filePath("two"));
    QVERIFY(d->isVisible());
    SaveShot(d, QStringLiteral("frmSelDir"));
    ClickAt(d->btnCancel);
    FlushDeletes();
    QVERIFY(alive.isNull());
    QVERIFY(d == nullptr);
    QCOMPARE(chosen.size(), 3);  // Cancel applies nothing
    QVERIFY(ShowNMDialog(nullptr, d, false));
    d->OnDirectoryChosen = [&](TfrmSelDir& dlg) { chosen << dlg.GetDirectory(); };
    QVERIFY(ActivateWindow(d));
    QCOMPARE(QApplication::focusWidget(), d->ShellTreeView);  // the tree has the focus
    PressKey(Qt::Key_Return);  // Enter is OK: apply and close
    FlushDeletes();
    QCOMPARE(chosen.size(), 4);
    QVERIFY(d == nullptr);
  }
};

QTEST_MAIN(ControlTests)
#include "ControlTests.moc"

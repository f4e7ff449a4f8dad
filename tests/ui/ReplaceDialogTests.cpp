// The replace dialog: its rules without a window, then the dialog over a search window's real
// results: counts and jobs, enabled states, deleting finds, the history, the log that appears
// with its first line, a file changed after the search, the change set window, and closing
// the dialog in every way while its worker runs (also run under AddressSanitizer).
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <csignal>

#include "UiTestUtil.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "ui/Action.h"
#include "ui/Application.h"
#include "ui/dialogs/ChangesWindow.h"
#include "ui/controls/DirComboBox.h"
#include "ui/dialogs/ReplaceDialog.h"
#include "ui/dialogs/ReplaceRules.h"
#include "ui/search/SearchWindow.h"
#include "ui/controls/WildCardMemo.h"

using namespace trawlex;
using namespace trawlex::uitest;

namespace {

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

// Runs the event loop as the program does until `done` holds (at most 30 seconds): the
// workers' hand-overs are served at once, not once per polling step.
bool WaitUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer poll;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done() || clock.elapsed() > 30000) loop.quit();
  });
  poll.start(2);
  if (!done()) loop.exec();
  return done();
}

// Selects find `k` of line `line` of result file `file`.
void Select(TSearchParams* params, int file, int line, int k) { params->GetResult(file)->GetLine(line)->SetFindSelected(k, true); }

}  // namespace

class TReplaceDialogTests : public QObject {
  Q_OBJECT

 public:
  // The application every window of these tests belongs to.
  TApp App;

 private slots:
  void initTestCase() {
    App.SetQuitHandler([] {});
    App.InstallTitleHandler();
    InstallTerminationSignals([this] { App.Exit(); });
  }

  void cleanup() {
    App.Exit();
    FlushDeletes();
    QVERIFY(App.WaitForWorkers(30000));
  }

  // ---- rules without a window ----

  void EnabledRules_data() {
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("started");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("nothing-selected") << 0 << false << false;
    QTest::newRow("selected") << 3 << false << true;
    QTest::newRow("after-the-one-run") << 3 << true << false;
  }
  void EnabledRules() {
    QFETCH(int, selected);
    QFETCH(bool, started);
    QFETCH(bool, enabled);
    const TReplaceDialogState state{selected, started, false};
    QCOMPARE(ReplaceEnabled(state), enabled);
    QCOMPARE(ShowChangesEnabled(state), enabled);
  }

  void PlanCountsAllAndJobsSelected() {
    TfmSearch* w = SearchSevenFinds();
    Select(w->Params(), 0, 0, 1);
    Select(w->Params(), 0, 1, 0);
    Select(w->Params(), 1, 1, 0);
    const TReplacePlan plan = PlanReplace(*w->Params());
    QCOMPARE(plan.Counts.Total, 7);
    QCOMPARE(plan.Counts.Selected, 3);
    QCOMPARE(plan.Jobs.size(), size_t{2});
    QCOMPARE(plan.Jobs[0]->FindCount(), 2);
    QCOMPARE(plan.Jobs[1]->FindCount(), 1);
  }

  // ---- the dialog ----

  void OpensWithCountsTargetAndReplaceEnabledBySelection_data() {
    QTest::addColumn<int>("selected");
    QTest::newRow("three-selected") << 3;
    QTest::newRow("none-selected") << 0;
  }
  void OpensWithCountsTargetAndReplaceEnabledBySelection() {
    QFETCH(int, selected);
    TfmSearch* w = SearchSevenFinds();
    if (selected) SelectThree(w);
    TfmReplace* d = ShowReplaceDialog(w, *w->Params(), {});
    QCOMPARE(d->windowTitle(), QStringLiteral("Replace"));
    QCOMPARE(d->lblTotalFinds->text(), QStringLiteral("7"));
    QCOMPARE(d->lblSelectedFinds->text(), QString::number(selected));
    QCOMPARE(d->lblSelectedFinds->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QCOMPARE(d->lblTarget->text(), QStringLiteral("foo"));
    QCOMPARE(d->cbxReplace->currentText(), QStringLiteral("foo"));
    QCOMPARE(d->btnReplace->isEnabled(), selected > 0);
    QVERIFY(!d->lstErrorLog->isVisible());
    QCOMPARE(d->height(), d->minimumHeight());
    SaveShot(d, QStringLiteral("replace-dialog-%1").arg(selected));
  }

  void EmptyReplacementDeletesFindsIsNotKeptAndTheWindowSearchesAgain() {
    TfmSearch* w = SearchSevenFinds();
    SelectThree(w);
    auto* d = OpenReplaceDialog(w);
    QVERIFY(d);
    // A text used before, then an empty one.
    d->cbxReplace->addItem(QStringLiteral("earlier"));
    const int historyBefore = d->cbxReplace->count();
    PressKey(Qt::Key_A, Qt::ControlModifier);
    PressKey(Qt::Key_Delete);
    QCOMPARE(d->cbxReplace->currentText(), QString());
    ClickAt(d->btnReplace);
    QTRY_COMPARE(d->lblFileName->text(), QStringLiteral("Finished. Replaced 3 finds"));
    QVERIFY(!d->btnReplace->isEnabled());
    QCOMPARE(d->cbxReplace->count(), historyBefore);  // the empty text did not join the history
    QVERIFY(!d->lstErrorLog->isVisible());
    QCOMPARE(ReadFile(FTree.filePath("a.txt")), QByteArray("foo \n\n"));
    QCOMPARE(ReadFile(FTree.filePath("b.txt")), QByteArray("x foo\n foo\n"));
    QPointer<TfmReplace> gone(d);
    PressKey(Qt::Key_Escape);
    FlushDeletes();
    QVERIFY(!gone);
    // Closing after a run searches again: four finds are left.
    QTRY_VERIFY(!w->Running());
    QCOMPARE(w->TotalFindCount(), 4);
  }

  // With "Regular expression" ticked, $1 in "with" gives each find the text of its own group;
  // a group the pattern lacks is refused in the log before anything is written.
  void RegexReplacementTakesEachFindsGroup() {
    WriteFile(FTree.filePath("a.txt"), "key=1\r\nkey=22\nnokey\n");
    TfmSearch* w = Search(QStringLiteral("key=(\\d+)"), FTree.path(), nullptr, true, true);
    QVERIFY(w->chkRegExp->isChecked());
    QCOMPARE(w->TotalFindCount(), 2);
    w->Params()->GetResult(0)->SelectAllFinds(true);
    w->SetSelectedFindCount(2);
    auto* d = OpenReplaceDialog(w);
    QVERIFY(d);
    QCOMPARE(d->cbxReplace->currentText(), QStringLiteral("$0"));  // each find as it is
    PressKey(Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("$2"));
    ClickAt(d->btnReplace);
    QTRY_VERIFY(d->lstErrorLog->isVisible());
    QCOMPARE(d->lstErrorLog->item(0)->text(),
             QStringLiteral("The replacement names group 2, but the regular expression has 1 group; nothing was replaced"));
    QCOMPARE(ReadFile(FTree.filePath("a.txt")), QByteArray("key=1\r\nkey=22\nnokey\n"));
    QVERIFY(d->btnReplace->isEnabled());
    ClickAt(d->cbxReplace);
    PressKey(Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("$1=v"));
    ClickAt(d->btnReplace);
    QTRY_COMPARE(d->lblFileName->text(), QStringLiteral("Finished. Replaced 2 finds"));
    QCOMPARE(ReadFile(FTree.filePath("a.txt")), QByteArray("1=v\r\n22=v\nnokey\n"));
  }

  // "Undo last replace" in the Edit menu names the newest run and restores its files; the
  // window then searches again.
  void UndoLastReplaceNamesTheRunAndRestoresItsFiles() {
    TfmSearch* w = SearchSevenFinds();
    const QByteArray a = ReadFile(FTree.filePath("a.txt")), b = ReadFile(FTree.filePath("b.txt"));
    SelectThree(w);
    auto* d = OpenReplaceDialog(w);
    QVERIFY(d);
    PressKey(Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("B&R"));
    ClickAt(d->btnReplace);
    QTRY_COMPARE(d->lblFileName->text(), QStringLiteral("Finished. Replaced 3 finds"));
    PressKey(Qt::Key_Escape);
    FlushDeletes();
    QTRY_VERIFY(!w->Running());
    QCOMPARE(ReadFile(FTree.filePath("a.txt")), QByteArray("foo B&R\nB&R\n"));

    w->acUndoReplace->Update();
    QVERIFY(w->acUndoReplace->isEnabled());
    QVERIFY2(w->acUndoReplace->text().startsWith(QStringLiteral("Undo last replace (foo \u2192 B&&R, 2 files, ")),
             qPrintable(w->acUndoReplace->text()));
    QString question, result;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      question = box->text();
      AnswerMessageBox(QMessageBox::Ok, nullptr, &result);
      box->button(QMessageBox::Yes)->click();
    });
    QVERIFY(w->acUndoReplace->Execute());
    QVERIFY2(question.contains(QStringLiteral("replace 'foo' with 'B&R' in 2 files")), qPrintable(question));
    QCOMPARE(result, QStringLiteral("Restored 2 files"));
    QCOMPARE(ReadFile(FTree.filePath("a.txt")), a);
    QCOMPARE(ReadFile(FTree.filePath("b.txt")), b);
    QTRY_VERIFY(!w->Running());
    QCOMPARE(w->TotalFindCount(), 7);
  }

  void HistoryKeepsUsedTextsMostRecentFirst() {
    TfmSearch* w = nullptr;
    for (const char* text : {"one", "two", "One"}) {
      w = SearchSevenFinds(w);
      SelectThree(w);
      auto* d = OpenReplaceDialog(w, false);
      QVERIFY(d);
      d->cbxReplace->setEditText(QString::fromLatin1(text));
      ClickAt(d->btnReplace);
      QTRY_VERIFY(!d->Running());
      ClickAt(d->btnClose);
      FlushDeletes();
      QTRY_VERIFY(!w->Running());
    }
    w = SearchSevenFinds(w);
    SelectThree(w);
    auto* d = OpenReplaceDialog(w, false);
    QVERIFY(d);
    // "One" moved "one" to the top instead of joining it; "two" follows.
    QCOMPARE(d->cbxReplace->itemText(0), QStringLiteral("One"));
    QCOMPARE(d->cbxReplace->itemText(1), QStringLiteral("two"));
    QVERIFY(d->cbxReplace->findText(QStringLiteral("one")) < 0);
    QCOMPARE(d->cbxReplace->currentText(), QStringLiteral("foo"));  // it opens with the target
  }

  void ChangedFileIsRefusedWithLogAndTheFirstLineGrowsTheWindowOnce() {
    TfmSearch* w = SearchSevenFinds();
    SelectThree(w);
    Select(w->Params(), 2, 0, 0);  // c.txt too
    WriteFile(FTree.filePath("a.txt"), "foo foo\nfoo\n+\n");  // grown since the search
    WriteFile(FTree.filePath("c.txt"), "fo\n");                // shrunk
    TfmReplace* d = ShowReplaceDialog(w, *w->Params(), {});
    const int collapsed = d->height();
    d->cbxReplace->setEditText(QStringLiteral("bar"));
    ClickAt(d->btnReplace);
    QTRY_VERIFY(!d->Running());
    QCOMPARE(d->lstErrorLog->count(), 4);
    QVERIFY(d->lstErrorLog->item(1)->text().startsWith(QStringLiteral("Error: size was 12, now 14")));
    QCOMPARE(d->height(), collapsed + 60);
    QCOMPARE(d->maximumHeight(), collapsed + 60);
    QCOMPARE(d->minimumHeight(), collapsed);
    QVERIFY(d->lstErrorLog->isVisible());
    QCOMPARE(d->lblFileName->text(), QStringLiteral("Finished. Replaced 1 find"));
    QCOMPARE(ReadFile(FTree.filePath("a.txt")), QByteArray("foo foo\nfoo\n+\n"));
    QCOMPARE(ReadFile(FTree.filePath("b.txt")), QByteArray("x foo\nbar foo\n"));
    SaveShot(d, QStringLiteral("replace-dialog-log"));
  }

  void ShowChangesListsTheDiffAndSavesItAsAPatch() {
    TfmSearch* w = SearchSevenFinds();
    SelectThree(w);
    TfmReplace* d = ShowReplaceDialog(w, *w->Params(), {});
    d->cbxReplace->setEditText(QStringLiteral("bar"));
    ClickAt(d->btnShowChanges);
    TfmChanges* c = d->ChangesWindow();
    QVERIFY(c && c->isVisible());
    QCOMPARE(QByteArray::fromStdString(c->Changes()),
             QByteArray("--- a/a.txt\n+++ b/a.txt\n@@ -1,2 +1,2 @@\n-foo foo\n-foo\n+foo bar\n+bar\n"
                        "--- a/b.txt\n+++ b/b.txt\n@@ -1,2 +1,2 @@\n x foo\n-foo foo\n+bar foo\n"));
    QVERIFY(c->memChanges->toPlainText().contains(QStringLiteral("+foo bar")));
    // Nothing was written.
    QCOMPARE(ReadFile(FTree.filePath("a.txt")), QByteArray("foo foo\nfoo\n"));
    const QString patch = FTree.filePath("out/changes.patch");
    QDir().mkpath(FTree.filePath("out"));
    WhenModal<QFileDialog>([patch](QFileDialog* f) { TypeFileName(f, patch); });
    ClickAt(c->btnSave);
    QCOMPARE(ReadFile(patch).toStdString(), c->Changes());
    SaveShot(c, QStringLiteral("changes-window"));
  }

  // ---- closing while the worker runs ----

  void ClosingWhileReplacingWaitsForTheWorker_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("runMs");
    for (const char* how : {"close-button", "escape", "close-box", "exit", "sigterm"}) {
      QTest::newRow((std::string(how) + "-at-once").c_str()) << QString::fromLatin1(how) << 0;
      QTest::newRow((std::string(how) + "-later").c_str()) << QString::fromLatin1(how) << 5;
    }
  }
  void ClosingWhileReplacingWaitsForTheWorker() {
    QFETCH(QString, how);
    QFETCH(int, runMs);
    QByteArray text;
    for (int i = 0; i < 50; ++i) text += "one needle, two needles\n";
    for (int i = 0; i < 150; ++i) WriteFile(FTree.filePath(QStringLiteral("many/f%1.txt").arg(i, 3, 10, QLatin1Char('0'))), text);
    TfmSearch* w = Search(QStringLiteral("needle"), FTree.filePath("many"), nullptr, false);
    QPointer<TfmSearch> window(w);
    for (int32_t i = 0; i < w->Params()->GetResultCount(); ++i) w->Params()->GetResult(i)->SelectAllFinds(true);
    w->SetSelectedFindCount(w->TotalFindCount());
    auto* d = OpenReplaceDialog(w);
    QVERIFY(d);
    bool told = false, runningWhenTold = true;
    auto opener = d->OnDialogDestroyed;
    d->OnDialogDestroyed = [&, opener](TfmReplace& dialog) {
      told = true;
      runningWhenTold = dialog.Running();
      if (opener) opener(dialog);
    };
    d->cbxReplace->setEditText(QStringLiteral("pin"));
    ClickAt(d->btnReplace);
    QVERIFY(d->Running());
    if (runMs > 0) RunLoop(runMs);
    QPointer<TfmReplace> gone(d);
    if (how == "close-button") {
      ClickAt(d->btnClose);
    } else if (how == "escape") {
      PressKey(Qt::Key_Escape);
    } else if (how == "close-box") {
      d->close();
    } else if (how == "exit") {
      App.Exit();
    } else {
      std::raise(SIGTERM);
      QTRY_VERIFY(!window);
    }
    FlushDeletes();
    QVERIFY(!gone);
    if (how != "exit" && how != "sigterm") QVERIFY(told);  // the opener was told, after the worker ended
    if (told) QVERIFY(!runningWhenTold);
    // Every file is wholly old or wholly new, and no temporary file is left.
    QByteArray replaced = text;
    replaced.replace("needle", "pin");
    const QStringList names = QDir(FTree.filePath("many")).entryList(QDir::Files);
    QCOMPARE(names.size(), 150);
    for (const QString& name : names) {
      const QByteArray now = ReadFile(FTree.filePath("many/" + name));
      QVERIFY2(now == text || now == replaced, qPrintable(name));
    }
  }

 private:
  // a.txt 3 finds, b.txt 3, c.txt 1: seven finds of "foo".
  // Chooses Replace... in `w` and returns the dialog it opened, made the active window unless
  // `activate` is false; null when no dialog opened or it never became active.
  TfmReplace* OpenReplaceDialog(TfmSearch* w, bool activate = true) {
    if (!w->acReplace->Execute()) return nullptr;
    auto* d = qobject_cast<TfmReplace*>(QApplication::activeModalWidget());
    if (!d || !activate) return d;
    d->activateWindow();
    return QTest::qWaitFor([d] { return QApplication::activeWindow() == d; }) ? d : nullptr;
  }

  TfmSearch* SearchSevenFinds(TfmSearch* w = nullptr) {
    WriteFile(FTree.filePath("a.txt"), "foo foo\nfoo\n");
    WriteFile(FTree.filePath("b.txt"), "x foo\nfoo foo\n");
    WriteFile(FTree.filePath("c.txt"), "foo\n");
    return Search(QStringLiteral("foo"), FTree.path(), w);
  }
  // Three finds in two files: the second of a's first line, a's second line, b's second line's first.
  void SelectThree(TfmSearch* w) {
    Select(w->Params(), 0, 0, 1);
    Select(w->Params(), 0, 1, 0);
    Select(w->Params(), 1, 1, 0);
    w->SetSelectedFindCount(3);
  }
  TfmSearch* Search(const QString& target, const QString& dir, TfmSearch* w = nullptr, bool lines = true,
                    bool regex = false) {
    if (!w) w = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, App);
    w->show();
    if (w->chkRegExp->isChecked() != regex) ClickAt(w->chkRegExp);
    w->acHideResultLines->setChecked(!lines);
    w->cbxTarget->setEditText(target);
    w->cbxDirectory->SetDirectory(dir);
    w->memPatterns->setPlainText(QStringLiteral("*.txt"));
    w->chkSubdirs->setChecked(false);
    if (!w->acSearch->Execute()) return w;
    WaitUntil([w] { return !w->Running(); });
    return w;
  }

  QTemporaryDir FTree;
};

int main(int argc, char** argv) {
  TTrawlexApplication app(argc, argv);
  TReplaceDialogTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "ReplaceDialogTests.moc"

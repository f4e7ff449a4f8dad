// The search window and the application's lifetime: validation, a search from start to end,
// stopping and restarting, several windows with their settings sections and Window menus, the
// application title, closing during a search, the end of the program, the command line.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <unistd.h>

#include "UiTestUtil.h"
#include "config/RegistryConfig.h"
#include "engine/SearchParams.h"
#include "engine/SearchThread.h"
#include "ui/Action.h"
#include "ui/ActionList.h"
#include "ui/Application.h"
#include "ui/controls/DirComboBox.h"
#include "ui/dialogs/ListForm.h"
#include "ui/lists/PainterSurface.h"
#include "ui/lists/ResultList.h"
#include "ui/search/SearchRules.h"
#include "ui/search/SearchWindow.h"
#include "ui/controls/StatusBar.h"
#include "ui/controls/WildCardMemo.h"

using namespace trawlex;
using namespace trawlex::uitest;

Q_DECLARE_METATYPE(trawlex::TWindowState)

namespace {

// A directory tree of files for the searches.
class TTree {
 public:
  QString Path() const { return FDir.path(); }
  QString Write(const QString& rel, const QByteArray& content) {
    const QString path = FDir.filePath(rel);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return path;
  }
  // `files` files of `lines` lines, each line with one find of "needle".
  void Fill(int files, int lines) {
    QByteArray text;
    for (int i = 0; i < lines; ++i) text += "a line with a needle in it\n";
    for (int i = 0; i < files; ++i) Write(QStringLiteral("d%1/f%2.txt").arg(i % 10).arg(i, 5, 10, QLatin1Char('0')), text);
  }

 private:
  QTemporaryDir FDir;
};

TfmSearch* NewSearchWindow(TApp& app) {
  auto* w = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, app);
  w->show();
  return w;
}

void SetInputs(TfmSearch* w, const QString& target, const QString& dir, const QString& patterns = QStringLiteral("*.*")) {
  w->cbxTarget->setEditText(target);
  w->cbxDirectory->SetDirectory(dir);
  w->memPatterns->setPlainText(patterns);
}

QString PanelText(TfmSearch* w, int i) { return w->StatusBar1->Panel(i).Text(); }

QStringList MenuEntries(QMenu* menu) {
  QStringList l;
  // A separator shows as a plain line only without a text; with one it shows that text.
  for (QAction* a : menu->actions()) l << (a->isSeparator() && a->text().isEmpty() ? QStringLiteral("<line>") : a->text());
  return l;
}

int gQuits = 0;

std::string StoreFile() { return SettingsFileFor(SettingsRootKey()); }

std::string StoredValue(const std::string& section, const std::string& name) {
  TRegistryConfig store(SettingsRootKey());
  return store.ReadString(section, name, "<none>");
}

// An object whose event handling fails, as an action's handler may.
class TFailingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("Disk full while writing");
    return QObject::event(e);
  }
};

// Runs the event loop until the results list holds more than `count` entries: at once, not in
// the 50 ms steps of QTRY_VERIFY, as the search that a test stops or closes in its middle goes
// on without waiting for the window.
bool WaitForEntries(TfmSearch* w, int count) {
  QElapsedTimer clock;
  clock.start();
  while (w->lstResults->Count() <= count && clock.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  return w->lstResults->Count() > count;
}

}  // namespace

#define WAIT_SEARCH_END(w) QTRY_VERIFY_WITH_TIMEOUT(!(w)->Running(), 30000)

class TSearchWindowTests : public QObject {
  Q_OBJECT

 public:
  // The application every window of these tests belongs to.
  TApp App;

 private slots:
  void initTestCase() {
    App.SetQuitHandler([] { ++gQuits; });
    App.InstallTitleHandler();
  }
  void init() {
    QFile::remove(QString::fromStdString(StoreFile()));
    App.SetSearchArguments({});
    gQuits = 0;
  }
  void cleanup() {
    App.Exit();
    QVERIFY(App.WaitForWorkers(30000));
    FlushDeletes();
    QCOMPARE(App.SearchWindowCount(), 0);
  }

  // ---- rules without a window ----
  void ExcludeColour_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("exclude");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QColor>("colour");
    const QColor blue(0, 0, 255), red(255, 0, 0);
    QTest::newRow("longer-exclude-holds-target") << "foo" << "xfoo" << false << blue;
    QTest::newRow("case-differs-case-off") << "Foo" << "xfoo" << false << blue;
    QTest::newRow("case-differs-case-on") << "Foo" << "xfoo" << true << red;
    QTest::newRow("equal-to-target") << "foo" << "foo" << false << red;
    QTest::newRow("empty-exclude") << "foo" << "" << false << red;
    QTest::newRow("unrelated") << "foo" << "barbaz" << false << red;
  }
  void ExcludeColour() {
    QFETCH(QString, target);
    QFETCH(QString, exclude);
    QFETCH(bool, caseSensitive);
    QFETCH(QColor, colour);
    QCOMPARE(ExcludeColor(target.toStdString(), exclude.toStdString(), caseSensitive), colour);
  }

  void ActionRules_data() {
    QTest::addColumn<TWindowState>("state");
    QTest::addColumn<QString>("enabled");  // output terminate replace view sort0 sort2 editor
    auto st = [](bool running, bool stopping, int results, int finds, int order, bool editor, bool active) {
      TWindowState s;
      s.Running = running;
      s.Stopping = stopping;
      s.ResultCount = results;
      s.SelectedFinds = finds;
      s.SortOrder = order;
      s.EditorExists = editor;
      s.ActiveSelected = active;
      return s;
    };
    QTest::newRow("idle, empty") << st(false, false, 0, 0, 0, false, false) << "---V-S-";
    QTest::newRow("results, none selected") << st(false, false, 5, 0, 0, true, false) << "O--V-S-";
    QTest::newRow("finds selected, by size") << st(false, false, 5, 2, 1, true, true) << "O-RVsSE";
    QTest::newRow("running") << st(true, false, 5, 2, 1, true, true) << "-T----E";
    QTest::newRow("stopping") << st(true, true, 5, 2, 1, false, true) << "-------";
  }
  void ActionRules() {
    QFETCH(TWindowState, state);
    QFETCH(QString, enabled);
    const QString got = QString(CanOutput(state) ? "O" : "-") + (CanTerminate(state) ? "T" : "-") +
                        (CanReplace(state) ? "R" : "-") + (CanChangeView(state) ? "V" : "-") +
                        (CanSort(state, 0) ? "s" : "-") + (CanSort(state, 2) ? "S" : "-") +
                        (CanOpenInEditor(state) ? "E" : "-");
    QCOMPARE(got, enabled);
    QVERIFY(!SortPanelShown(0) && SortPanelShown(1) && SortPanelShown(3));
  }

  void WindowNames_data() {
    QTest::addColumn<QStringList>("inUse");
    QTest::addColumn<QString>("name");
    QTest::newRow("none") << QStringList{} << "fmSearch";
    QTest::newRow("first-taken") << QStringList{"fmSearch"} << "fmSearch_1";
    QTest::newRow("gap-after-first") << QStringList{"fmSearch", "fmSearch_2"} << "fmSearch_1";
    QTest::newRow("first-free-again") << QStringList{"fmSearch_1"} << "fmSearch";
  }
  void WindowNames() {
    QFETCH(QStringList, inUse);
    QFETCH(QString, name);
    QCOMPARE(FirstFreeSearchWindowName(inUse), name);
  }

  void DisplayTextKeepsEveryByte_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ascii") << QByteArray("int x;") << QStringLiteral("int x;");
    QTest::newRow("utf8") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9");
    QTest::newRow("latin1-byte") << QByteArray("caf\xe9!") << QStringLiteral("caf\u00e9!");
    QTest::newRow("c1-byte") << QByteArray("a\x85z") << QStringLiteral("a\ufffdz");
    QTest::newRow("cut-sequence") << QByteArray("\xe2\x82") << QStringLiteral("\u00e2\ufffd");
    QTest::newRow("overlong") << QByteArray("\xc0\x80") << QStringLiteral("\u00c0\ufffd");
    QTest::newRow("nul") << QByteArray("a\0b", 3) << QStringLiteral("a\u2400b");
    QTest::newRow("astral") << QByteArray("\xf0\x9f\x98\x80") << QString::fromUtf8("\xf0\x9f\x98\x80");
  }
  void DisplayTextKeepsEveryByte() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(DisplayText(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))), shown);
  }

  // ---- validation ----
  void ValidationPrecedence_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("dir");  // 0 empty, 1 existing directory, 2 a file, 3 missing
    QTest::addColumn<QString>("patterns");
    QTest::addColumn<QString>("problem");
    QTest::newRow("all-empty") << "" << 0 << "" << "No search target";
    QTest::newRow("no-target-but-rest") << "" << 1 << "*.*" << "No search target";
    QTest::newRow("no-directory") << "foo" << 0 << "" << "No directory specified";
    QTest::newRow("directory-is-a-file") << "foo" << 2 << "*.*" << "No directory specified";
    QTest::newRow("directory-missing") << "foo" << 3 << "*.*" << "No directory specified";
    QTest::newRow("no-patterns") << "foo" << 1 << "" << "No file patterns";
    QTest::newRow("valid") << "foo" << 1 << "*.txt" << "";
  }
  void ValidationPrecedence() {
    QFETCH(QString, target);
    QFETCH(int, dir);
    QFETCH(QString, patterns);
    QFETCH(QString, problem);
    TTree tree;
    const QString file = tree.Write(QStringLiteral("a.txt"), "x\n");
    const QString dirs[] = {QString(), tree.Path(), file, tree.Path() + QStringLiteral("/missing")};
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, target, dirs[dir], patterns);
    w->ActionList1->UpdateAll();
    QCOMPARE(w->GetSearchProblem(), problem);
    QCOMPARE(w->StatusMessage(), problem);
    QCOMPARE(w->ProblemShown(), !problem.isEmpty());
    QCOMPARE(w->acSearch->isEnabled(), problem.isEmpty());
    // Enter in the target box does nothing while Search is disabled.
    QVERIFY(ActivateWindow(w));
    ClickAt(w->cbxTarget);
    PressKey(Qt::Key_Return);
    QCOMPARE(w->Running(), problem.isEmpty());
    WAIT_SEARCH_END(w);
  }

  void EnterInEachInputStartsTheSearch_data() {
    QTest::addColumn<int>("input");  // 0 target, 1 exclude, 2 directory
    QTest::newRow("target") << 0;
    QTest::newRow("exclude") << 1;
    QTest::newRow("directory") << 2;
  }
  void EnterInEachInputStartsTheSearch() {
    QFETCH(int, input);
    TTree tree;
    tree.Write(QStringLiteral("a.txt"), "foo\n");
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("foo"), tree.Path());
    QWidget* inputs[] = {w->cbxTarget, w->cbxExclude, w->cbxDirectory};
    QVERIFY(ActivateWindow(w));
    ClickAt(inputs[input]);
    QVERIFY(inputs[input]->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == inputs[input]);
    PressKey(Qt::Key_Return);
    QVERIFY(w->Running() || w->Params());
    WAIT_SEARCH_END(w);
    QCOMPARE(PanelText(w, 1), QStringLiteral("Found in 1 of 1 file"));
  }

  void PatternTypedWithABreakAtTheEndCountsOneLine() {
    TfmSearch* w = NewSearchWindow(App);
    QVERIFY(ActivateWindow(w));
    ClickAt(w->memPatterns);
    PressKey(Qt::Key_A, Qt::ControlModifier);  // no results: the key selects the memo's text
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("*.h"));
    PressKey(Qt::Key_Return);
    QCOMPARE(w->memPatterns->toPlainText(), QStringLiteral("*.h\n"));
    QCOMPARE(w->lbWildCardCt->text(), QStringLiteral("1"));
    QCOMPARE(w->memPatterns->GetPatternsText(), QStringLiteral("*.h"));
  }

  void ProblemClearsOnlyItself() {
    TTree tree;
    tree.Write(QStringLiteral("a.txt"), "foo\n");
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QString(), tree.Path());
    w->ActionList1->UpdateAll();
    QCOMPARE(w->StatusMessage(), QStringLiteral("No search target"));
    w->cbxTarget->setEditText(QStringLiteral("foo"));
    w->ActionList1->UpdateAll();
    QCOMPARE(w->StatusMessage(), QString());  // the problem has gone
    QVERIFY(!w->ProblemShown());
    w->SetStatusMessage(QStringLiteral("FINISHED. Took: 0s"));
    w->ActionList1->UpdateAll();
    QCOMPARE(w->StatusMessage(), QStringLiteral("FINISHED. Took: 0s"));  // never cleared by validation
  }

  // ---- one search ----
  void SearchRunsToTheEnd() {
    TTree tree;
    tree.Write(QStringLiteral("a.txt"), "foo\nbar\nfoo foo\n");
    tree.Write(QStringLiteral("b.txt"), "nothing\n");
    tree.Write(QStringLiteral("sub/c.txt"), "xfoo\n");
    tree.Write(QStringLiteral("skip.md"), "foo\n");
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("foo"), tree.Path() + QLatin1Char('/'), QStringLiteral("*.txt"));
    w->cbxExclude->setEditText(QStringLiteral("xfoo"));
    QVERIFY(ActivateWindow(w));
    ClickAt(w->cbxTarget);
    PressKey(Qt::Key_Return);
    QVERIFY(w->Running());
    QCOMPARE(w->btnSearch->defaultAction(), w->acTerminate);
    QCOMPARE(w->Caption(), QStringLiteral("Trawlex: foo"));
    QCOMPARE(w->GetCaption(), QStringLiteral("Search for foo"));
    WAIT_SEARCH_END(w);
    QCOMPARE(w->btnSearch->defaultAction(), w->acSearch);
    QCOMPARE(w->btnSearch->actions().size(), 1);  // swapped, so no menu arrow appears
    QCOMPARE(PanelText(w, 1), QStringLiteral("Found in 1 of 3 files"));  // c.txt's find is excluded
    QCOMPARE(PanelText(w, 2), QStringLiteral("Finds: 3"));
    QCOMPARE(w->TotalFindCount(), 3);
    QVERIFY(w->StatusMessage().startsWith(QStringLiteral("FINISHED. Took: ")));
    QCOMPARE(w->lstResults->Count(), 3);  // the file and its two lines
    QCOMPARE(w->Params()->BaseDir, tree.Path().toStdString());  // without the trailing delimiter
    QVERIFY(w->lstResults->HorizontalExtent() > 0);
    QCOMPARE(w->cbxTarget->itemText(0), QStringLiteral("foo"));
    QCOMPARE(w->cbxExclude->itemText(0), QStringLiteral("xfoo"));
    QCOMPARE(w->cbxDirectory->itemText(0), tree.Path());
    // The last search and the histories are in the store at once.
    QCOMPARE(StoredValue("fmSearch", "cbxTarget.Text"), std::string("foo"));
    QVERIFY(w->acSave->isEnabled() || (w->ActionList1->UpdateAll(), w->acSave->isEnabled()));
    // A second search discards the first one's results.
    w->cbxTarget->setEditText(QStringLiteral("nothing"));
    w->acSearch->Execute();
    WAIT_SEARCH_END(w);
    QCOMPARE(PanelText(w, 1), QStringLiteral("Found in 1 of 3 files"));
    QCOMPARE(w->lstResults->Count(), 2);
    QCOMPARE(w->cbxTarget->itemText(0), QStringLiteral("nothing"));
    QCOMPARE(w->cbxTarget->itemText(1), QStringLiteral("foo"));
    w->lstResults->SetItemIndex(0);
    QCOMPARE(PanelText(w, 4), QStringLiteral("Finds in File: 1"));
    RunLoop(50);  // let the layout follow the new label texts
    SaveShot(w, QStringLiteral("search-window"));
  }

  void HiddenAndBinaryChoicesAreClickedSearchedAndKept() {
    TTree tree;
    tree.Write(QStringLiteral("a.txt"), "foo\n");
    tree.Write(QStringLiteral(".cfg/b.txt"), "foo\n");
    tree.Write(QStringLiteral("c.bin"), QByteArray("foo\0", 4));
    struct TCase {
      bool Hidden, Binary;
      QString Found;
      int Items;  // file items and their lines
    } cases[] = {
        {false, false, QStringLiteral("Found in 2 of 2 files"), 4},
        {true, false, QStringLiteral("Found in 3 of 3 files"), 6},
        {true, true, QStringLiteral("Found in 2 of 3 files, 1 binary file skipped"), 4},
        {false, true, QStringLiteral("Found in 1 of 2 files, 1 binary file skipped"), 2},
    };
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("foo"), tree.Path());
    QVERIFY(ActivateWindow(w));
    for (const TCase& c : cases) {
      if (w->chkHidden->isChecked() != c.Hidden) ClickAt(w->chkHidden);
      if (w->chkBinarySkip->isChecked() != c.Binary) ClickAt(w->chkBinarySkip);
      QCOMPARE(w->chkHidden->isChecked(), c.Hidden);
      QCOMPARE(w->chkBinarySkip->isChecked(), c.Binary);
      ClickAt(w->cbxTarget);
      PressKey(Qt::Key_Return);
      WAIT_SEARCH_END(w);
      QCOMPARE(PanelText(w, 1), c.Found);
      QCOMPARE(w->lstResults->Count(), c.Items);
      const std::vector<std::string> description = w->Params()->GetDescription();
      QCOMPARE(std::count(description.begin(), description.end(), "Search hidden files: Yes"), c.Hidden ? 1 : 0);
      QCOMPARE(std::count(description.begin(), description.end(), "Skip binary files: Yes"), c.Binary ? 1 : 0);
      QCOMPARE(TRegistryConfig(SettingsRootKey()).ReadInteger("fmSearch", "chkHidden.Checked", -1), c.Hidden ? 1 : 0);
      QCOMPARE(TRegistryConfig(SettingsRootKey()).ReadInteger("fmSearch", "chkBinarySkip.Checked", -1), c.Binary ? 1 : 0);
    }
    delete w;
    // A new window takes the choices of the last search.
    w = NewSearchWindow(App);
    QVERIFY(!w->chkHidden->isChecked());
    QVERIFY(w->chkBinarySkip->isChecked());
  }

  void SkipFoldersIsTypedSearchedAndKeptWithAHistory() {
    TTree tree;
    for (const char* f : {"a.txt", "node_modules/m.txt", "src/gen/g.txt", "src/s.txt", "build1/b.txt"})
      tree.Write(QString::fromUtf8(f), "foo\n");
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("foo"), tree.Path());
    QVERIFY(ActivateWindow(w));
    const struct {
      QString Typed, Found;
    } cases[] = {
        {QStringLiteral("node_modules|build*"), QStringLiteral("Found in 3 of 3 files")},
        {QStringLiteral("src/gen"), QStringLiteral("Found in 4 of 4 files")},
    };
    for (const auto& c : cases) {
      ClickAt(w->cbxFolderSkip);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(QApplication::focusWidget(), c.Typed);
      PressKey(Qt::Key_Return);  // Enter in the box starts the search
      WAIT_SEARCH_END(w);
      QCOMPARE(PanelText(w, 1), c.Found);
      const std::vector<std::string> d = w->Params()->GetDescription();
      QVERIFY(std::find(d.begin(), d.end(), "Skip folders: " + c.Typed.toStdString()) != d.end());
    }
    QCOMPARE(w->cbxFolderSkip->itemText(0), QStringLiteral("src/gen"));
    QCOMPARE(w->cbxFolderSkip->itemText(1), QStringLiteral("node_modules|build*"));
    delete w;
    QCOMPARE(StoredValue("fmSearch", "cbxFolderSkip.Text"), std::string("src/gen"));
    w = NewSearchWindow(App);
    QCOMPARE(w->cbxFolderSkip->currentText(), QStringLiteral("src/gen"));
    QCOMPARE(w->cbxFolderSkip->count(), 2);
  }

  void ProgressTextsDuringASearch() {
    TTree tree;
    tree.Fill(4000, 5);  // enough to last several hand-overs
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("needle"), tree.Path());
    QStringList panel1, panel6;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      panel1 << PanelText(w, 1);
      panel6 << w->StatusMessage();
    });
    poll.start(0);
    QVERIFY(w->acSearch->Execute());
    WAIT_SEARCH_END(w);
    poll.stop();
    const QRegularExpression searching(QStringLiteral("^Searching 4000 Found in (\\d+) of (\\d+) files?$"));
    QVERIFY2(std::any_of(panel1.begin(), panel1.end(), [&](const QString& t) { return searching.match(t).hasMatch(); }),
             qPrintable(panel1.join(QLatin1Char('|')).left(400)));
    QVERIFY(std::any_of(panel6.begin(), panel6.end(), [](const QString& t) { return t.endsWith(QStringLiteral(".txt")); }));
    QCOMPARE(PanelText(w, 1), QStringLiteral("Found in 4000 of 4000 files"));
    QCOMPARE(PanelText(w, 2), QStringLiteral("Finds: 20000"));
    QCOMPARE(w->lstResults->Count(), 4000 * 6);
  }

  void TerminateKeepsWhatWasFound() {
    TTree tree;
    tree.Fill(5000, 20);
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("needle"), tree.Path());
    const QRect button = w->btnSearch->geometry();
    QVERIFY(w->acSearch->Execute());
    QVERIFY(WaitForEntries(w, 0));
    QCOMPARE(w->btnSearch->defaultAction(), w->acTerminate);
    RunLoop(10);
    QCOMPARE(w->btnSearch->geometry(), button);  // the tool bar does not shift when the captions swap
    QVERIFY(w->acTerminate->Execute());
    QCOMPARE(w->btnSearch->defaultAction(), w->acSearch);
    w->ActionList1->UpdateAll();
    QVERIFY(!w->acSearch->isEnabled());  // until the worker has ended
    QVERIFY(!w->acTerminate->isEnabled());
    WAIT_SEARCH_END(w);
    QCOMPARE(w->StatusMessage(), QStringLiteral("Terminated by user"));
    QCOMPARE(PanelText(w, 2), QStringLiteral("Finds: %1").arg(w->TotalFindCount()));
    QVERIFY(w->TotalFindCount() < 5000 * 20);
    w->ActionList1->UpdateAll();
    QVERIFY(w->acSearch->isEnabled());
  }

  void StaysResponsiveWhileManyLinesArrive() {
    // 400,000 line items: the window keeps handling its events between hand-overs, and
    // Terminate ends the search without waiting for the rest.
    TTree tree;
    tree.Fill(200, 2000);
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("needle"), tree.Path());
    QElapsedTimer clock;
    qint64 last = 0, worstGap = 0;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      if (ticks++ > 0) worstGap = std::max(worstGap, now - last);
      last = now;
    });
    clock.start();
    timer.start(5);
    QVERIFY(w->acSearch->Execute());
    QVERIFY(WaitForEntries(w, 100000));
    QVERIFY(w->Running());
    QElapsedTimer stop;
    stop.start();
    QVERIFY(w->acTerminate->Execute());
    WAIT_SEARCH_END(w);
    timer.stop();
    QVERIFY(ticks > 3);  // the event loop kept running during the hand-overs
    qInfo("longest pause of the event loop %lld ms; stopped %lld ms after Terminate", worstGap,
          static_cast<long long>(stop.elapsed()));
    QVERIFY(w->lstResults->Count() < 200 * 2001);
    QCOMPARE(w->StatusMessage(), QStringLiteral("Terminated by user"));
  }

  void DirectoryAppliedRestartsOrStarts() {
    TTree big, small;
    big.Fill(300, 20);
    small.Write(QStringLiteral("one.txt"), "needle\n");
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("needle"), big.Path());
    QVERIFY(w->acSearch->Execute());
    w->DirectoryApplied(small.Path());  // while running: stop, then search again
    QVERIFY(w->Running());
    QTRY_VERIFY_WITH_TIMEOUT(!w->Running() && w->Params() && w->Params()->BaseDir == small.Path().toStdString(), 30000);
    QCOMPARE(PanelText(w, 1), QStringLiteral("Found in 1 of 1 file"));
    w->DirectoryApplied(big.Path());  // while idle: a search starts at once
    QVERIFY(w->Running());
    WAIT_SEARCH_END(w);
    QCOMPARE(PanelText(w, 1), QStringLiteral("Found in 300 of 300 files"));
  }

  void ErrorsGoToTheLog() {
    TTree tree;
    tree.Write(QStringLiteral("a.txt"), "needle\n");
    // A file whose every read fails (the system's view of a process's memory, at offset 0).
    const QString huge = tree.Path() + QStringLiteral("/huge.txt");
    QVERIFY(::symlink("/proc/self/mem", huge.toLocal8Bit().constData()) == 0);
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("needle"), tree.Path());
    w->ActionList1->UpdateAll();
    QVERIFY(!w->acViewLog->isVisible());
    QVERIFY(w->acSearch->Execute());
    WAIT_SEARCH_END(w);
    QCOMPARE(w->ErrorLog().size(), 1);
    QVERIFY(w->ErrorLog().at(0).startsWith(huge + QStringLiteral(": ")));
    w->ActionList1->UpdateAll();
    QVERIFY(w->acViewLog->isVisible());
    QVERIFY(w->acViewLog->Execute());
    QVERIFY(w->LogWindow);
    QCOMPARE(w->LogWindow->windowTitle(), QStringLiteral("Error Log"));
    // The next search drops the old log and its window.
    QVERIFY(w->acSearch->Execute());
    QVERIFY(!w->LogWindow);
    WAIT_SEARCH_END(w);
  }

  // ---- several windows ----
  void WindowsTakeFirstFreeNameAndOwnSection() {
    TTree tree;
    tree.Write(QStringLiteral("a.txt"), "alpha beta\n");
    TfmSearch* first = NewSearchWindow(App);
    TfmSearch* second = NewSearchWindow(App);
    QCOMPARE(first->objectName(), QStringLiteral("fmSearch"));
    QCOMPARE(second->objectName(), QStringLiteral("fmSearch_1"));
    SetInputs(first, QStringLiteral("alpha"), tree.Path());
    SetInputs(second, QStringLiteral("beta"), tree.Path());
    QVERIFY(first->acSearch->Execute());
    QVERIFY(second->acSearch->Execute());
    WAIT_SEARCH_END(first);
    WAIT_SEARCH_END(second);
    QCOMPARE(StoredValue("fmSearch", "cbxTarget.Text"), std::string("alpha"));
    QCOMPARE(StoredValue("fmSearch_1", "cbxTarget.Text"), std::string("beta"));
    delete first;
    QCOMPARE(gQuits, 0);  // the other window keeps the program going
    TfmSearch* third = NewSearchWindow(App);
    QCOMPARE(third->objectName(), QStringLiteral("fmSearch"));
    QCOMPARE(third->cbxTarget->currentText(), QStringLiteral("alpha"));
    QCOMPARE(third->cbxTarget->itemText(0), QStringLiteral("alpha"));
    delete second;
    delete third;
    QCOMPARE(gQuits, 1);  // the last window ends the program
  }

  void WindowMenusListEveryWindow() {
    TTree tree;
    tree.Write(QStringLiteral("a.txt"), "x & y\n");
    TfmSearch* w[3] = {NewSearchWindow(App), NewSearchWindow(App), NewSearchWindow(App)};
    SetInputs(w[1], QStringLiteral("x & y"), tree.Path());
    QVERIFY(w[1]->acSearch->Execute());
    WAIT_SEARCH_END(w[1]);
    for (int i = 0; i < 3; ++i) {
      const QList<QAction*> entries = w[i]->Window1->actions();
      QCOMPARE(entries.size(), 3);
      // Windows that have not searched are told apart by their number.
      QCOMPARE(entries[0]->text(), QStringLiteral("Trawlex 1"));
      QCOMPARE(QAction(entries[1]->text()).iconText(), QStringLiteral("Search for x & y"));
      QCOMPARE(entries[2]->text(), QStringLiteral("Trawlex 3"));
      for (int k = 0; k < 3; ++k) {
        QCOMPARE(entries[k]->isChecked(), k == i);
        QCOMPARE(entries[k]->isEnabled(), k != i);
      }
    }
    w[2]->showMinimized();
    w[0]->Window1->actions().at(2)->trigger();
    QVERIFY(!w[2]->isMinimized());
    delete w[1];
    QCOMPARE(w[0]->Window1->actions().size(), 2);
    QCOMPARE(w[2]->Window1->actions().at(1)->isChecked(), true);
  }

  void MenusFollowTheActions() {
    TfmSearch* w = NewSearchWindow(App);
    QCOMPARE(MenuEntries(w->File1), (QStringList{"Save results...", "Setup Printer", "Print results",
                                                 "Open new Search window", "Exit"}));
    QCOMPARE(MenuEntries(w->Edit1), (QStringList{"Select All Finds", "Deselect All Finds", "Replace...", "Undo last replace",
                                                 "Set preferred editor...", "Open in preferred editor",
                                                 "Set prefs for tab-character..."}));
    QCOMPARE(MenuEntries(w->View1),
             (QStringList{"View Log", "Show only filenames", "Show canonical form of directory name",
                          "Show button captions", "<line>", "Sort in descending order", "Sort by Full name", "Sort by Size",
                          "Sort by Time", "Sort by Finds"}));
    QCOMPARE(MenuEntries(w->Help1), (QStringList{"Check For Updates", "Usage", "About"}));
    QCOMPARE(MenuEntries(w->popResults).size(), 9);
    QCOMPARE(w->acNewSearch->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    QCOMPARE(w->SortActions[3]->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F4));
    // The toolbar captions switch.
    QVERIFY(w->acShowCaptions->Execute());
    QCOMPARE(w->btnSearch->toolButtonStyle(), Qt::ToolButtonIconOnly);
    // Search fits its image as the other buttons do.
    QCOMPARE(w->btnSearch->width(), w->tbrMainButtons->widgetForAction(w->acSave)->sizeHint().width());
    w->ActionList1->UpdateAll();
    QVERIFY(!w->acShowCaptions->isChecked());
    // Open new Search window.
    QVERIFY(w->acNewSearch->Execute());
    QCOMPARE(App.SearchWindowCount(), 2);
  }

  void TitleWhileAnySearchRuns() {
    TTree tree, large;
    tree.Fill(200, 10);
    large.Fill(2000, 50);  // still searching when the first search has ended
    TfmSearch* a = NewSearchWindow(App);
    TfmSearch* b = NewSearchWindow(App);
    TfmSearch* idle = NewSearchWindow(App);
    SetInputs(a, QStringLiteral("needle"), tree.Path());
    SetInputs(b, QStringLiteral("needle"), large.Path());
    QCOMPARE(App.Title(), QStringLiteral("Trawlex"));
    QCOMPARE(idle->windowTitle(), QStringLiteral("Trawlex"));
    QVERIFY(a->acSearch->Execute());
    QVERIFY(b->acSearch->Execute());
    QTRY_COMPARE(App.Title(), QStringLiteral("Trawlex - Running"));
    // Every window shows the state, also one whose title was set before the search began.
    QCOMPARE(idle->windowTitle(), QStringLiteral("Trawlex \u2014 Trawlex - Running"));
    QCOMPARE(a->windowTitle(), QStringLiteral("Trawlex: needle \u2014 Trawlex - Running"));
    a->acTerminate->Execute();
    WAIT_SEARCH_END(a);
    // While b's search is still counted (it may end at any moment), the title keeps the state.
    if (App.RunningSearches().Count() > 0) QCOMPARE(App.Title(), QStringLiteral("Trawlex - Running"));
    WAIT_SEARCH_END(b);
    QTRY_COMPARE(App.Title(), QStringLiteral("Trawlex"));
    // ... and drops it when the last search has ended: the caption alone.
    QCOMPARE(a->windowTitle(), QStringLiteral("Trawlex: needle"));
    QCOMPARE(b->windowTitle(), QStringLiteral("Trawlex: needle"));
    QCOMPARE(idle->windowTitle(), QStringLiteral("Trawlex"));
    QCOMPARE(a->GetCaption(), QStringLiteral("Search for needle"));
  }

  void SecondWindowWithBadSettingsLeavesNoTraceAtClose() {
    // The first window saves its section; the second window's section holds values of the
    // wrong type, which are reported (on standard error here) and keep their defaults.
    {
      TfmSearch* w = NewSearchWindow(App);
      w->cbxTarget->setEditText(QStringLiteral("kept"));
      delete w;
    }
    QFile store(QString::fromStdString(StoreFile()));
    QVERIFY(store.open(QIODevice::Append));
    store.write("\r\n[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex\\fmSearch_1]\r\n"
                "\"fmSearch_1.bounds\"=dword:00000001\r\n\"pnlPreview.Height\"=\"tall\"\r\n");
    store.close();
    gQuits = 0;
    TfmSearch* first = NewSearchWindow(App);
    first->acNewSearch->Execute();
    RunLoop(100);
    // The second window opens with its defaults, and the list holds exactly the windows alive.
    int alive = 0;
    for (TfmGeneric* g : App.Windows()) alive += qobject_cast<TfmSearch*>(g) != nullptr;
    QCOMPARE(App.SearchWindowCount(), alive);
    QCOMPARE(alive, 2);
    first->cbxTarget->setEditText(QStringLiteral("saved at exit"));
    App.UpdateWindowMenus();
    QCOMPARE(first->Window1->actions().size(), alive);
    App.Exit();
    FlushDeletes();
    QCOMPARE(App.SearchWindowCount(), 0);
    QCOMPARE(gQuits, 1);
    QCOMPARE(StoredValue("fmSearch", "cbxTarget.Text"), std::string("saved at exit"));
  }

  void CloseDuringASearch() {
    TTree tree;
    tree.Fill(3000, 50);
    TfmSearch* w = NewSearchWindow(App);
    SetInputs(w, QStringLiteral("needle"), tree.Path());
    QVERIFY(w->acSearch->Execute());
    QVERIFY(WaitForEntries(w, 0));
    QVERIFY(w->Running());
    QVERIFY(w->close());  // destroys the window; the worker is only told to stop
    FlushDeletes();
    QCOMPARE(App.SearchWindowCount(), 0);
    QCOMPARE(gQuits, 1);
    QVERIFY(App.WaitForWorkers(30000));
    QCOMPARE(App.Title(), QStringLiteral("Trawlex"));
    QCOMPARE(StoredValue("fmSearch", "cbxTarget.Text"), std::string("needle"));
  }

  void ExitClosesEveryWindowAndSavesEach() {
    TfmSearch* a = NewSearchWindow(App);
    TfmSearch* b = NewSearchWindow(App);
    a->cbxTarget->setEditText(QStringLiteral("from a"));
    b->cbxTarget->setEditText(QStringLiteral("from b"));
    QVERIFY(a->acExit->Execute());
    QTRY_COMPARE(App.SearchWindowCount(), 0);
    QCOMPARE(gQuits, 1);
    QCOMPARE(StoredValue("fmSearch", "cbxTarget.Text"), std::string("from a"));
    QCOMPARE(StoredValue("fmSearch_1", "cbxTarget.Text"), std::string("from b"));
  }

  // ---- the command line ----
  void CommandLineFillsInputsAndLeavesStoredSearch() {
    TTree tree;
    tree.Write(QStringLiteral("a.html"), "needle\n");
    tree.Write(QStringLiteral("b.php"), "needle\n");
    tree.Write(QStringLiteral("c.txt"), "needle\n");
    {
      TfmSearch* w = NewSearchWindow(App);
      SetInputs(w, QStringLiteral("stored"), tree.Path());
      delete w;
    }
    App.SetSearchArguments({"-x", "foo", "-t", "needle", "-d", tree.Path().toStdString(), "-p", "*.html | *.php",
                              "-s", "0", "-C", "1"});
    TfmSearch* w = NewSearchWindow(App);
    QVERIFY(w->FromCommandLine());
    QCOMPARE(w->cbxTarget->currentText(), QStringLiteral("needle"));
    QCOMPARE(w->memPatterns->toPlainText(), QStringLiteral("*.html\n*.php"));
    QVERIFY(!w->chkSubdirs->isChecked());
    QVERIFY(w->chkCaseSenstv->isChecked());
    QCOMPARE(w->SearchCfgList().Count(), 12);
    QTRY_VERIFY(w->Params() != nullptr);  // the search starts by itself
    WAIT_SEARCH_END(w);
    QCOMPARE(PanelText(w, 1), QStringLiteral("Found in 2 of 2 files"));
    delete w;
    QCOMPARE(StoredValue("fmSearch", "cbxTarget.Text"), std::string("stored"));
    QCOMPARE(StoredValue("fmSearch", "cbxDirectory.Directory"), tree.Path().toStdString());
    QCOMPARE(TRegistryConfig(SettingsRootKey()).ReadInteger("fmSearch", "chkSubdirs.Checked", -1), 1);
  }

  // -r 1 ticks "Regular expression" and the search finds by the pattern; a pattern that does
  // not compile is named, with its position, in the message panel and keeps Search disabled
  // until a click on the box makes the text a plain target again; the box is kept with the
  // last search.
  void RegularExpressionSwitchCheckBoxAndBadPattern() {
    TTree tree;
    tree.Write(QStringLiteral("a.txt"), "id42 id7 idx\nnone\n");
    App.SetSearchArguments({"-t", R"(id(\d+))", "-d", tree.Path().toStdString(), "-r", "1", "-c", "1"});
    TfmSearch* w = NewSearchWindow(App);
    QVERIFY(w->chkRegExp->isChecked());
    QTRY_VERIFY(w->Params() != nullptr);
    WAIT_SEARCH_END(w);
    QCOMPARE(w->TotalFindCount(), 2);
    QVERIFY(w->Params()->GetDescription().back() == "Regular expression: Yes");
    delete w;

    App.SetSearchArguments({});
    w = NewSearchWindow(App);
    QVERIFY(!w->FromCommandLine());
    SetInputs(w, QStringLiteral("id"), tree.Path());
    QVERIFY(ActivateWindow(w));
    if (!w->chkRegExp->isChecked()) ClickAt(w->chkRegExp);
    QVERIFY(w->chkRegExp->isChecked());
    ClickAt(w->cbxTarget);
    PressKey(Qt::Key_End);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("(\\d"));
    w->ActionList1->UpdateAll();
    QCOMPARE(w->StatusMessage(), QStringLiteral("The regular expression is not valid at position 6: missing closing parenthesis"));
    QVERIFY(w->ProblemShown());
    QVERIFY(!w->acSearch->isEnabled());
    ClickAt(w->chkRegExp);
    w->ActionList1->UpdateAll();
    QVERIFY(!w->ProblemShown());
    ClickAt(w->chkRegExp);
    ClickAt(w->cbxTarget);
    PressKey(Qt::Key_End);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("+)"));
    w->ActionList1->UpdateAll();
    QVERIFY(!w->ProblemShown());
    PressKey(Qt::Key_Return);
    WAIT_SEARCH_END(w);
    QCOMPARE(w->TotalFindCount(), 2);
    delete w;
    QCOMPARE(TRegistryConfig(SettingsRootKey()).ReadInteger("fmSearch", "chkRegExp.Checked", -1), 1);
    TRegistryConfig(SettingsRootKey()).WriteInteger("fmSearch", "chkRegExp.Checked", 0);  // for the windows after
  }

  void OneArgumentIsIgnored() {
    {
      TfmSearch* w = NewSearchWindow(App);
      w->cbxTarget->setEditText(QStringLiteral("stored"));
      delete w;
    }
    App.SetSearchArguments({"/tmp"});
    TfmSearch* w = NewSearchWindow(App);
    QVERIFY(!w->FromCommandLine());
    QCOMPARE(w->cbxTarget->currentText(), QStringLiteral("stored"));
  }

  void BadSwitchValueIsReportedAndNoSearchStarts() {
    TTree tree;
    tree.Write(QStringLiteral("a.txt"), "needle\n");
    App.SetSearchArguments({"-t", "needle", "-d", tree.Path().toStdString(), "-w", "maybe"});
    QString title, text;
    AnswerMessageBox(QMessageBox::Ok, &title, &text);
    TfmSearch* w = NewSearchWindow(App);
    QTRY_COMPARE(text, QStringLiteral("'maybe' is not a valid integer value"));
    RunLoop(50);
    QVERIFY(!w->Params());
  }

  void UsageLinesFromTheControls() {
    TfmSearch* w = NewSearchWindow(App);
    std::vector<std::string> lines = w->UsageLines();
    QVERIFY(!lines.empty());
    lines.erase(lines.begin());  // the program's file name
    const std::vector<std::string> expected = {
        "  -t <Target> -- Find this text",
        "  -d <Directory>",
        "  -p <Patterns> -- List of filename patterns, using wildcards (*.*)",
        "  -e <Exclude> -- Exclude finds where target is part of this",
        "  -s <Subdirs> -- Search subdirectories recursively (1)",
        "  -c <Case sensitive> -- Only include if case in file matches target (0)",
        "  -w <Whole word> -- Include whole words only (0)",
        "  -r <Regular expression> -- Target and exclude text are regular expressions (Perl syntax); the replacement may "
        "hold $1, ${name} (0)",
        "  -h <Hidden files> -- Also search files and folders whose names begin with a dot (0)",
        "  -b <Skip binary> -- Leave out files with a zero byte in their first 64 KiB (0)",
        "  -f <Skip folders> -- Folders never searched: names, or paths with a /, separated by |",
        "  -i <Skip ignored> -- Leave out what git ignores (.gitignore, .git/info/exclude, your excludes file) (0)"};
    QCOMPARE(lines, expected);
  }

  // ---- the application ----
  void ErrorInAnEventHandlerIsShown() {
    auto* app = qobject_cast<TTrawlexApplication*>(qApp);
    QVERIFY(app);
    TFailingObject failing;
    QString title, text;
    AnswerMessageBox(QMessageBox::Ok, &title, &text);
    QEvent e(QEvent::User);
    QCoreApplication::sendEvent(&failing, &e);  // returns: the program goes on
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("Disk full while writing"));
  }
};

int main(int argc, char** argv) {
  TTrawlexApplication app(argc, argv);
  TSearchWindowTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "SearchWindowTests.moc"

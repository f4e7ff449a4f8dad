// A search window closed while its search runs: the worker is only told to stop, keeps what it
// reads until it ends, and nothing of it reaches the closed window. Small and quick on purpose,
// so that it also runs under AddressSanitizer.
#include <QtTest>

#include "UiTestUtil.h"
#include "ui/Action.h"
#include "ui/Application.h"
#include "ui/controls/DirComboBox.h"
#include "ui/search/SearchWindow.h"
#include "ui/controls/WildCardMemo.h"

using namespace trawlex;
using namespace trawlex::uitest;

class TCloseDuringSearchTests : public QObject {
  Q_OBJECT

 public:
  // The application every window of these tests belongs to.
  TApp App;

 private slots:
  void initTestCase() {
    App.SetQuitHandler([] {});
    App.InstallTitleHandler();
    QByteArray text;
    for (int i = 0; i < 30; ++i) text += "one needle, two needles\n";
    for (int i = 0; i < 4000; ++i) {  // enough to outlast the longest wait below
      const QString path = FTree.filePath(QStringLiteral("d%1/f%2.txt").arg(i % 7).arg(i));
      QDir().mkpath(QFileInfo(path).path());
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(text);
    }
  }

  void ClosedWindowGetsNothingMore_data() {
    QTest::addColumn<int>("runMs");
    QTest::addColumn<bool>("showLines");
    QTest::newRow("before-the-first-hand-over") << 0 << true;
    QTest::newRow("while-listing-lines") << 15 << true;
    QTest::newRow("later-with-lines") << 60 << true;
    QTest::newRow("file-items-only") << 15 << false;
  }
  void ClosedWindowGetsNothingMore() {
    QFETCH(int, runMs);
    QFETCH(bool, showLines);
    auto* w = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, App);
    w->show();
    w->cbxTarget->setEditText(QStringLiteral("needle"));
    w->cbxDirectory->SetDirectory(FTree.path());
    w->memPatterns->setPlainText(QStringLiteral("*.txt"));
    w->acHideResultLines->setChecked(!showLines);
    QVERIFY(w->acSearch->Execute());
    if (runMs > 0) RunLoop(runMs);
    QVERIFY(w->Running());
    QPointer<TfmSearch> gone(w);
    w->close();
    FlushDeletes();
    QVERIFY(!gone);
    QCOMPARE(App.SearchWindowCount(), 0);
    QVERIFY(App.WaitForWorkers(30000));
    QCOMPARE(App.Title(), QStringLiteral("Trawlex"));
  }

  void ExitWhileTwoWindowsSearch() {
    TfmSearch* w[2];
    for (auto*& window : w) {
      window = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, App);
      window->show();
      window->cbxTarget->setEditText(QStringLiteral("needle"));
      window->cbxDirectory->SetDirectory(FTree.path());
      QVERIFY(window->acSearch->Execute());
    }
    RunLoop(20);
    App.Exit();
    QCOMPARE(App.SearchWindowCount(), 0);
    QVERIFY(App.WaitForWorkers(30000));
  }

 private:
  QTemporaryDir FTree;
};

int main(int argc, char** argv) {
  TTrawlexApplication app(argc, argv);
  TCloseDuringSearchTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "CloseDuringSearchTests.moc"

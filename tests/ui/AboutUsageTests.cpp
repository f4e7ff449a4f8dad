// The About and Usage windows of the search window: what they show, how they fit their text,
// one window per search window brought forward when asked again, and the keys that close them.
// Runs in a zone one hour east of universal time without summer time (TZ=UTC-1 in the test's
// environment), so the build date must read "(GMT +1)".
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>

#include "TrawlexBuildInfo.h"
#include "base/Version.h"
#include "config/CommandLine.h"
#include "platform/Platform.h"
#include "ui/dialogs/AboutForm.h"
#include "ui/Action.h"
#include "ui/Application.h"
#include "ui/dialogs/InfoForm.h"
#include "ui/search/SearchWindow.h"
#include "ui/services/ShellServices.h"
#include "ui/UiTestUtil.h"

using namespace trawlex;
using namespace trawlex::uitest;

namespace {

QStringList MemoLines(const QPlainTextEdit* memo) {
  QStringList lines;
  for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next()) lines << b.text();
  return lines;
}

TfmSearch* ShownSearchWindow(TApp& app) {
  auto* w = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, app);
  w->show();
  w->activateWindow();
  QApplication::setActiveWindow(w);
  return w;
}

}  // namespace

class TAboutUsageTests : public QObject {
  Q_OBJECT

 public:
  // The application every window of these tests belongs to.
  TApp App;

 private slots:
  void cleanup() {
    DeleteAllWindows(App);
    App.SetShell(nullptr);
  }

  void AboutShowsIconVersionBuildDateAndSite() {
    QPointer<TfmSearch> w = ShownSearchWindow(App);
    QVERIFY(w->acAbout->Execute());
    QPointer<TfmAbout> about = w->AboutWindow;
    QVERIFY(about && about->isVisible());
    QCOMPARE(about->windowTitle(), QStringLiteral("About Trawlex"));
    QCOMPARE(about->faAppLogo->lblAppName->text(), QStringLiteral("Trawlex"));
    QVERIFY(!about->faAppLogo->imgAppIcon->pixmap().isNull());

    const std::vector<int32_t> v = ProgramVersion();
    QCOMPARE(about->lblVersion->text(), QStringLiteral("%1.%2.%3  Build %4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]));

    // The build time one hour east of universal time, in the locale's form, and the zone.
    const QDateTime local = QDateTime::fromSecsSinceEpoch(TRAWLEX_BUILD_TIME_UTC, Qt::UTC).addSecs(3600);
    const QLocale locale;
    const QString expected = locale.toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                             locale.toString(local.time(), QLocale::ShortFormat) + QStringLiteral(" (GMT +1)");
    QCOMPARE(about->lblBuildDate->text(), expected);

    // The whole logo and every text fit the window.
    for (QLabel* l : {about->lblVersion, about->lblBuildDate, about->lblDevweb, about->faAppLogo->lblAppName})
      QVERIFY2(l->sizeHint().width() <= l->width(), qPrintable(l->objectName()));
    QVERIFY(about->faAppLogo->geometry().bottom() < about->Label1->geometry().top());
    SaveShot(about, QStringLiteral("about"));

    // Asked again, the same window comes forward.
    QVERIFY(w->acAbout->Execute());
    QCOMPARE(w->AboutWindow, about.data());
  }

  void AboutVersionTextNeedsFourParts_data() {
    QTest::addColumn<std::vector<int32_t>>("version");
    QTest::addColumn<QString>("text");
    QTest::newRow("four") << std::vector<int32_t>{2, 1, 0, 57} << QStringLiteral("2.1.0  Build 57");
    QTest::newRow("three") << std::vector<int32_t>{2, 1, 0} << QString();
    QTest::newRow("none") << std::vector<int32_t>{} << QString();
  }
  void AboutVersionTextNeedsFourParts() {
    QFETCH(std::vector<int32_t>, version);
    QFETCH(QString, text);
    QCOMPARE(AboutVersionText(version), text);
  }

  void SiteLinkOpensInTheBrowser() {
    TRecordingShell shell;
    App.SetShell(&shell);
    QPointer<TfmSearch> w = ShownSearchWindow(App);
    w->acAbout->Execute();
    TfmAbout* about = w->AboutWindow;
    about->SetSiteAddress(QStringLiteral("http://127.0.0.1:9/"));
    QCOMPARE(about->lblDevweb->cursor().shape(), Qt::PointingHandCursor);
    ClickAt(about->lblDevweb);
    QCOMPARE(shell.Calls, QStringList{QStringLiteral("open http://127.0.0.1:9/")});
    // Without an address there is nothing to open.
    about->SetSiteAddress(QString());
    ClickAt(about->lblDevweb);
    QCOMPARE(shell.Calls.size(), 1);
  }

  void EnterOrEscapeClosesAboutButNotTheReleaseOfAnotherWindowsKey_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("return") << int(Qt::Key_Return);
    QTest::newRow("enter") << int(Qt::Key_Enter);
    QTest::newRow("escape") << int(Qt::Key_Escape);
  }
  void EnterOrEscapeClosesAboutButNotTheReleaseOfAnotherWindowsKey() {
    QFETCH(int, key);
    QPointer<TfmSearch> w = ShownSearchWindow(App);
    w->acAbout->Execute();
    QPointer<TfmAbout> about = w->AboutWindow;
    QApplication::setActiveWindow(about);
    QVERIFY(QApplication::focusWidget() && QApplication::focusWidget()->window() == about);
    // The Enter that chose About in the menu is released in the new window.
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key(key));
    FlushDeletes();
    QVERIFY(about && about->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    FlushDeletes();
    QVERIFY(!about);
    QVERIFY(w->AboutWindow == nullptr);
  }

  void UsageListsTheOptionsInAFixedFontAndEveryLineFits() {
    QPointer<TfmSearch> w = ShownSearchWindow(App);
    QVERIFY(w->acUsage->Execute());
    QPointer<TfmInfo> info = w->InfoWindow;
    QVERIFY(info && info->isVisible());
    QCOMPARE(info->windowTitle(), QStringLiteral("Usage"));
    QCOMPARE(info->lblTitle->text(), QStringLiteral("Command line options for Trawlex"));
    // Fixed-pitch by what it shows (a font's own flag is not to be trusted): the narrowest
    // and the widest letters and the signs of the options take the same room.
    const QFontMetrics shown = info->memInfo->fontMetrics();
    for (const char c : {'W', 'm', ' ', '-', '|', '<'})
      QCOMPARE(shown.horizontalAdvance(QLatin1Char(c)), shown.horizontalAdvance(QLatin1Char('i')));

    QStringList expected;
    for (const std::string& line : w->UsageLines()) expected << QString::fromStdString(line);
    QVERIFY(expected.size() >= 8);
    QVERIFY(expected[1].startsWith(QStringLiteral("  -t <Target> -- Find this text")));
    expected << QString() << QStringLiteral("To separate patterns, use \"|\":  -p *.html|*.php")
             << QStringLiteral("For boolean values, use 0 and 1:  -s 1")
             << QStringLiteral("To skip folders, name them or their paths:  -f node_modules|build*|src/gen")
             << QString();
    // The options of a run without a window follow, every one of them.
    for (const std::string& line : ProgramOptionLines()) expected << QString::fromStdString(line);
    for (const char* option : {"--report", "--replace-all", "--dry-run", "--diff", "--no-undo", "--undo-last", "--undo-list"})
      QVERIFY2(expected.filter(QStringLiteral("  ") + QLatin1String(option)).size() > 0, option);
    QCOMPARE(MemoLines(info->memInfo), expected);

    // Every line and the heading show whole, without scrolling.
    const QFontMetrics fm(info->memInfo->font());
    for (const QString& line : expected)
      QVERIFY2(fm.horizontalAdvance(line) <= info->memInfo->viewport()->width(), qPrintable(line));
    QVERIFY(expected.size() * fm.lineSpacing() <= info->memInfo->viewport()->height());
    QVERIFY(info->lblTitle->fontMetrics().horizontalAdvance(info->lblTitle->text()) <= info->lblTitle->width());
    SaveShot(info, QStringLiteral("usage"));

    // Asked again: the same window, its lines not added twice.
    QVERIFY(w->acUsage->Execute());
    QCOMPARE(w->InfoWindow, info.data());
    QCOMPARE(MemoLines(info->memInfo).size(), expected.size());

    // Enter closes it (the focus is on Close).
    QApplication::setActiveWindow(info);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    FlushDeletes();
    QVERIFY(!info);
    QVERIFY(w->InfoWindow == nullptr);
  }

  void ALongLineWidensTheInfoWindow() {
    TfmInfo* info = nullptr;
    ShowNMDialog(nullptr, info, false);
    const int before = info->width();
    const QString line = QStringLiteral("  -x <") + QString(300, QLatin1Char('x')) + QLatin1Char('>');
    info->AddInfoLine(line);
    QVERIFY(info->width() > before);
    QVERIFY(info->memInfo->fontMetrics().horizontalAdvance(line) <= info->memInfo->viewport()->width());
    QApplication::setActiveWindow(info);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    FlushDeletes();
    QVERIFY(info == nullptr);
  }
};

int main(int argc, char** argv) {
  TTrawlexApplication app(argc, argv);
  TAboutUsageTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "AboutUsageTests.moc"

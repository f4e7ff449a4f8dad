// What the search window takes from the user and shows back: the text typed in a box is the
// text searched or written (no history entry swapped in, no completion), Escape in an open
// list, the message panel at large counts, the views that follow what is listed, the font,
// failed saves, owned windows, errors of deleted files, control bytes and what a screen
// reader is told.
#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QToolBar>
#include <QtTest>
#include <unistd.h>

#include "UiTestUtil.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "ui/Action.h"
#include "ui/Application.h"
#include "ui/dialogs/ChangesWindow.h"
#include "ui/controls/DirComboBox.h"
#include "ui/lists/ListBox.h"
#include "ui/dialogs/ListForm.h"
#include "ui/lists/PainterSurface.h"
#include "ui/dialogs/ReplaceDialog.h"
#include "ui/lists/ResultList.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/search/SearchWindow.h"
#include "ui/dialogs/SelDirDialog.h"
#include "ui/controls/StatusBar.h"
#include "ui/services/TextPrinter.h"
#include "ui/controls/WildCardMemo.h"
#include "ui/WindowRoutines.h"

using namespace trawlex;
using namespace trawlex::uitest;

namespace {

QByteArray Read(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

void ClickRow(TResultList* list, int row) {
  QWidget* window = list->window();
  const QPoint at(20, (row - list->TopRow()) * list->ItemHeight() + list->ItemHeight() / 2);
  QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, list->viewport()->mapTo(window, at));
}

// Clicks a box, selects its text with Ctrl+A, as a user does before typing over it, and types.
void TypeInto(QWidget* box, const QString& text) {
  ClickAt(box);
  QTRY_VERIFY(box->hasFocus());
  PressKey(Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(QApplication::focusWidget(), text);
}

// Answers every message box with OK while it lives, counting them.
class TBoxCounter : public QObject {
 public:
  TBoxCounter() {
    connect(&FTimer, &QTimer::timeout, this, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box->isVisible()) {
        ++Count;
        box->button(QMessageBox::Ok)->click();
      }
    });
    FTimer.start(5);
  }
  int Count = 0;

 private:
  QTimer FTimer;
};

}  // namespace

class TWindowInputTests : public QObject {
  Q_OBJECT

 public:
  // The application every window of these tests belongs to.
  TApp App;


  std::unique_ptr<QTemporaryDir> FTree;  // a fresh tree for every test
  TfmSearch* W = nullptr;
  QString Path(const QString& name = {}) const { return name.isEmpty() ? FTree->path() : FTree->filePath(name); }

  QString Write(const QString& name, const QByteArray& content) {
    const QString path = Path(name);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return path;
  }
  void Search(const QString& target = QStringLiteral("foo"), const QString& dir = QString()) {
    W->cbxTarget->setEditText(target);
    W->cbxDirectory->SetDirectory(dir.isEmpty() ? Path() : dir);
    W->memPatterns->setPlainText(QStringLiteral("*.txt"));
    QVERIFY(W->acSearch->Execute());
    QTRY_VERIFY_WITH_TIMEOUT(!W->Running(), 30000);
  }

 private slots:
  void initTestCase() {
    App.SetQuitHandler([] {});
    App.InstallTitleHandler();
  }
  void init() {
    QFile::remove(QString::fromStdString(SettingsFileFor(SettingsRootKey())));
    FTree = std::make_unique<QTemporaryDir>();
    Write(QStringLiteral("a.txt"), "foo fooFOO FOO\nint x\n");
    Write(QStringLiteral("tree/deep/b.txt"), "foo\n");
    W = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, App);
    W->resize(563, 448);
    QVERIFY(ActivateWindow(W));
    Search();  // results, so that the window's Ctrl+A and Ctrl+C would have work to do
  }
  void cleanup() {
    App.Exit();
    QVERIFY(App.WaitForWorkers(30000));
    FlushDeletes();
  }

  // ---- what is searched and written is what was typed ----

  void TypedTextIsWhatIsUsed_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::newRow("target: no entry of other case") << "target" << QStringList{"foo"} << "FOO" << int(Qt::Key_Return);
    QTest::newRow("target: no completion") << "target" << QStringList{"fooFOO"} << "FOO" << int(Qt::Key_Return);
    QTest::newRow("target over old text") << "target" << QStringList{} << "int" << int(Qt::Key_F3);
    QTest::newRow("exclude: no entry of other case") << "exclude" << QStringList{"FOOx"} << "foox" << int(Qt::Key_Return);
    QTest::newRow("directory: no completion") << "directory" << QStringList{"@/tree/deep"} << "@/tree" << int(Qt::Key_F3);
    QTest::newRow("with: no entry of other case") << "with" << QStringList{"QUUX"} << "quux" << 0;
    QTest::newRow("with: no completion") << "with" << QStringList{"quuxQ"} << "quux" << 0;
  }
  void TypedTextIsWhatIsUsed() {
    QFETCH(QString, box);
    QFETCH(QStringList, history);
    QFETCH(QString, typed);
    QFETCH(int, key);
    typed.replace(QLatin1Char('@'), Path());
    history.replaceInStrings(QStringLiteral("@"), Path());
    W->chkCaseSenstv->setChecked(true);
    if (box == QLatin1String("with")) {
      W->acSelectAllFinds->Execute();
      QVERIFY(W->acReplace->Execute());
      TfmReplace* d = W->ReplaceDialog;
      QVERIFY(d && QTest::qWaitForWindowActive(d));
      d->cbxReplace->insertItems(0, history);
      TypeInto(d->cbxReplace, typed);
      ClickAt(d->btnShowChanges);
      TfmChanges* changes = d->findChild<TfmChanges*>();
      QVERIFY(changes);
      QVERIFY2(changes->windowTitle().endsWith(QStringLiteral("\u2192 ") + typed), qPrintable(changes->windowTitle()));
      QVERIFY(ActivateWindow(d));
      ClickAt(d->btnReplace);
      QTRY_VERIFY_WITH_TIMEOUT(d->lblFileName->text().startsWith(QStringLiteral("Finished")), 30000);
      QCOMPARE(Read(Path("a.txt")), QStringLiteral("%1 %1%1 %1\nint x\n").arg(typed).toUtf8());
      return;
    }
    QComboBox* combo = box == QLatin1String("target")    ? W->cbxTarget
                       : box == QLatin1String("exclude") ? W->cbxExclude
                                                         : static_cast<QComboBox*>(W->cbxDirectory);
    combo->insertItems(0, history);
    TypeInto(combo, typed);
    QCOMPARE(combo->currentText(), typed);
    PressKey(static_cast<Qt::Key>(key));
    QTRY_VERIFY_WITH_TIMEOUT(!W->Running(), 30000);
    QCOMPARE(combo->currentText(), typed);
    const TSearchParams* p = W->Params();
    QVERIFY(p);
    const std::string used = box == QLatin1String("target")    ? p->Target()
                             : box == QLatin1String("exclude") ? p->Exclude()
                                                               : p->BaseDir;
    QCOMPARE(QString::fromStdString(used), typed);
  }

  void CopyAndSelectAllInABoxActOnTheBox() {
    ClickAt(W->cbxTarget);
    PressKey(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(W->cbxTarget->lineEdit()->selectedText(), QStringLiteral("foo"));
    QCOMPARE(W->SelectedFindCount(), 0);  // no find was selected by it
    PressKey(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("foo"));
    // From the results list the same keys act on the results.
    ClickRow(W->lstResults, 1);
    PressKey(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(W->SelectedFindCount(), W->TotalFindCount());
    PressKey(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("foo fooFOO FOO"));
  }

  void EscapeWithTheListOpenClosesOnlyTheList() {
    W->acSelectAllFinds->Execute();
    QVERIFY(W->acReplace->Execute());
    QPointer<TfmReplace> d = W->ReplaceDialog.data();
    QVERIFY(d && QTest::qWaitForWindowActive(d));
    d->cbxReplace->insertItems(0, {QStringLiteral("one"), QStringLiteral("two")});
    ClickAt(d->cbxReplace);
    const QString before = d->cbxReplace->currentText();
    PressKey(Qt::Key_Down, Qt::AltModifier);
    QTRY_VERIFY(d->cbxReplace->view()->isVisible());
    PressKey(Qt::Key_Escape);
    QTRY_VERIFY(!d->cbxReplace->view()->isVisible());
    QVERIFY(d->isVisible());
    QCOMPARE(d->cbxReplace->currentText(), before);
    PressKey(Qt::Key_Escape);
    QTRY_VERIFY(!d);
  }

  // Tab and Shift+Tab go through the inputs as they read, row by row, then to the lists.
  void TabVisitsTheInputsInReadingOrder_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("order");
    const QStringList reading{"cbxDirectory", "cbxTarget", "cbxExclude", "chkSubdirs", "chkCaseSenstv",
                              "chkWholeWord", "chkRegExp", "chkHidden", "chkBinarySkip", "chkIgnored",
                              "cbxFolderSkip", "memPatterns", "lstResults"};
    QStringList backwards(reading.rbegin(), reading.rend());
    QTest::newRow("tab") << int(Qt::Key_Tab) << reading;
    QTest::newRow("shift+tab") << int(Qt::Key_Backtab) << backwards;
  }
  void TabVisitsTheInputsInReadingOrder() {
    QFETCH(int, key);
    QFETCH(QStringList, order);
    ClickAt(order.first() == "cbxDirectory" ? static_cast<QWidget*>(W->cbxDirectory) : W->lstResults);
    const auto focused = [] {  // a box's line edit or a list's viewport holds the focus for it
      QWidget* f = QApplication::focusWidget();
      return f->objectName().isEmpty() ? f->parentWidget()->objectName() : f->objectName();
    };
    QStringList visited{focused()};
    for (int i = 1; i < order.size(); ++i) {
      PressKey(Qt::Key(key), key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
      visited << focused();
    }
    QCOMPARE(visited, order);
  }

  // ---- what the window shows ----

  // At any size the inputs keep the room they need and none is drawn over another.
  void InputsNeverOverlap_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("first size") << QSize(563, 448);
    QTest::newRow("narrow") << QSize(100, 448);
    QTest::newRow("low") << QSize(563, 100);
    QTest::newRow("smallest") << QSize(1, 1);
    QTest::newRow("large") << QSize(1500, 900);
  }
  void InputsNeverOverlap() {
    QFETCH(QSize, size);
    W->resize(size);
    QTRY_VERIFY(W->width() >= std::min(size.width(), W->minimumWidth()));
    // Layouts settle in rounds: a tool bar that overflows asks again for room.
    for (int i = 0; i < 5; ++i) {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
      QCoreApplication::processEvents();
    }
    QList<QWidget*> parts;
    for (QWidget* w : W->pnlTop->findChildren<QWidget*>()) {
      const bool input = qobject_cast<QCheckBox*>(w) || qobject_cast<QComboBox*>(w) ||
                         (qobject_cast<QLabel*>(w) && !qobject_cast<QLabel*>(w)->text().isEmpty()) ||
                         qobject_cast<QToolBar*>(w) || w == W->memPatterns;
      if (input && w->isVisibleTo(W)) parts << w;
    }
    QVERIFY(parts.size() >= 15);
    for (int i = 0; i < parts.size(); ++i) {
      const QRect a(parts[i]->mapTo(W, QPoint(0, 0)), parts[i]->size());
      // The pattern list scrolls: it may be smaller than it would like.
      const QSize need = parts[i] == W->memPatterns ? QSize(0, 0) : parts[i]->minimumSizeHint();
      QVERIFY2(a.height() >= need.height() && a.width() >= need.width(), qPrintable(parts[i]->objectName()));
      QVERIFY2(W->rect().contains(a), qPrintable(parts[i]->objectName()));
      for (int j = i + 1; j < parts.size(); ++j) {
        const QRect b(parts[j]->mapTo(W, QPoint(0, 0)), parts[j]->size());
        QVERIFY2(!a.intersects(b), qPrintable(parts[i]->objectName() + QStringLiteral(" over ") + parts[j]->objectName()));
      }
    }
  }

  // A window made small squeezes the pattern list and the preview; they come back to their
  // size when it grows again, and the next window gets that size, not the squeezed one.
  void PanesComeBackAfterTheWindowWasSmall_data() {
    QTest::addColumn<bool>("preview");
    QTest::newRow("preview") << true;
    QTest::newRow("patterns") << false;
  }
  void PanesComeBackAfterTheWindowWasSmall() {
    QFETCH(bool, preview);
    const auto pane = [preview](TfmSearch* w) {
      return preview ? w->pnlPreview->height() : w->pnlWildCards->width();
    };
    const int before = pane(W);
    W->resize(1, 1);
    QTRY_VERIFY(pane(W) < before);
    W->resize(563, 448);
    QTRY_COMPARE(pane(W), before);
    W->resize(1, 1);
    QTRY_VERIFY(pane(W) < before);
    delete W;
    FlushDeletes();
    W = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, App);
    QVERIFY(ActivateWindow(W));
    W->resize(563, 448);
    QTRY_COMPARE(pane(W), before);
  }

  void MessageStaysWholeAtSevenDigitCounts_data() {
    QTest::addColumn<QString>("message");
    QTest::newRow("terminated") << "Terminated by user";
    QTest::newRow("finished") << "FINISHED. Took: 0.715s";
    QTest::newRow("path") << "/home/user/projects/trawlex/src/engine/files/SearchThread.cpp";
  }
  void MessageStaysWholeAtSevenDigitCounts() {
    QFETCH(QString, message);
    TStatusBar* bar = W->StatusBar1;
    SetPanelText(*bar, 1, QStringLiteral("Searching 1234567 Found in 1234567 of 1234567 files"));
    SetPanelText(*bar, 2, QStringLiteral("Finds: 1316266"));
    SetPanelText(*bar, 3, QStringLiteral("Selected: 1316266"));
    SetPanelText(*bar, 4, QStringLiteral("Finds in File: 1234567"));
    W->SetStatusMessage(message);
    QTRY_COMPARE(bar->height(), bar->sizeHint().height());
    const QRect panel = bar->PanelRect(6);
    QVERIFY2(bar->fontMetrics().horizontalAdvance(message) + 6 <= panel.width() - 2,
             qPrintable(QString::number(panel.width())));
    QVERIFY(panel.bottom() <= bar->height());
    for (int i = 1; i <= 4; ++i) QVERIFY(bar->PanelRect(i).right() <= bar->width());
    SaveShot(W, QStringLiteral("message-") + QString::fromLatin1(QTest::currentDataTag()));
    // A short message with short counters needs one row again from the next search on.
    SetPanelText(*bar, 1, QStringLiteral("Found in 1 of 1 file"));
    for (int i = 2; i <= 4; ++i) SetPanelText(*bar, i, QStringLiteral("x"));
    W->SetStatusMessage(QStringLiteral("Done"));
    bar->ResetRows();
    QVERIFY(!bar->TwoRows());
  }

  void ViewsFollowWhatIsListed() {
    Write(QStringLiteral("long.txt"), QByteArray(400, 'x') + "foo\n");
    Write(QStringLiteral("n.txt"), "a\r\nfoo\r\nc\r\n");
    Search();
    QVERIFY(W->SortActions[0]->isChecked());  // "Full name" from the start
    const int wide = W->lstResults->HorizontalExtent();
    W->acHideResultLines->trigger();
    const int names = W->lstResults->HorizontalExtent();
    QVERIFY2(names < wide / 2, qPrintable(QStringLiteral("%1 %2").arg(names).arg(wide)));
    W->acHideResultLines->trigger();
    QCOMPARE(W->lstResults->HorizontalExtent(), wide);
    // The preview scrolls as far as its longest line; it counts the lines it can show.
    const int longRow = 3;  // a.txt, its line, long.txt, its line
    ClickRow(W->lstResults, longRow);
    QVERIFY(W->lstPreview->HorizontalExtent() > W->lstPreview->viewport()->width());
    QCOMPARE(W->lblLineCount->text(), QStringLiteral(" (1 line)"));
    ClickRow(W->lstResults, 5);  // n.txt's line
    QCOMPARE(W->lblLineCount->text(), QStringLiteral(" (3 lines)"));
    ClickRow(W->lstResults, 0);
    QCOMPARE(W->lblLineCount->text(), QStringLiteral(" (2 lines)"));
    // The list without the focus shows its selection in the inactive colour.
    ClickRow(W->lstResults, 1);
    const auto colourAt = [](TResultList* list) {
      const QImage shot = list->viewport()->grab().toImage();
      return QColor(shot.pixel(shot.width() - 3, (list->ItemIndex() - list->TopRow()) * list->ItemHeight() + 1));
    };
    QCOMPARE(colourAt(W->lstResults), QColor(0, 0, 128));
    QCOMPARE(colourAt(W->lstPreview), QColor(128, 128, 128));
    PressKey(Qt::Key_Tab);
    QTRY_VERIFY(W->lstPreview->hasFocus() || !W->lstResults->hasFocus());
    QCOMPARE(colourAt(W->lstResults), QColor(128, 128, 128));
  }

  void FontTakesFamilyAndSizeOnly() {
    QFont chosen(QStringLiteral("DejaVu Sans"), 14);
    chosen.setItalic(true);
    chosen.setBold(true);
    bool styleShown = true, buttonsShown = false;
    WhenModal<QFontDialog>([&](QFontDialog* d) {
      for (QLabel* l : d->findChildren<QLabel*>())
        if (l->buddy() && StripAccelerator(l->text()) == QStringLiteral("Font style")) styleShown = l->buddy()->isVisible();
      for (QGroupBox* box : d->findChildren<QGroupBox*>())
        if (StripAccelerator(box->title()) == QStringLiteral("Effects")) styleShown = styleShown || box->isVisibleTo(d);
      // What is left to choose with stays: the sample and the buttons.
      buttonsShown = d->findChild<QDialogButtonBox*>() && d->findChild<QDialogButtonBox*>()->isVisibleTo(d);
      d->setCurrentFont(chosen);
      d->accept();
    });
    ClickRow(W->lstResults, 1);
    PressKey(Qt::Key_F, Qt::ControlModifier);
    QVERIFY(!styleShown);
    QVERIFY(buttonsShown);
    QCOMPARE(W->ResultsFont().family(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(W->ResultsFont().pointSize(), 14);
    QVERIFY(!W->ResultsFont().italic() && !W->ResultsFont().bold());
  }

  void SaveStartsOnlyWhereItCanAndForgetsAFailure_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("start");
    QTest::newRow("proc") << "/proc/r.txt" << "~";
    QTest::newRow("sys") << "/sys/kernel/r.txt" << "~";
    QTest::newRow("dev") << "/dev/r.txt" << "~";
    QTest::newRow("missing folder") << "/no/such/folder/r.txt" << "~";
    QTest::newRow("a folder") << "/tmp/r.txt" << "/tmp";
    QTest::newRow("no folder") << "r.txt" << "";
  }
  void SaveStartsOnlyWhereItCanAndForgetsAFailure() {
    QFETCH(QString, name);
    QFETCH(QString, start);
    QCOMPARE(SaveDialogStartFolder(name), start == QLatin1String("~") ? QDir::homePath() : start);
    if (!name.startsWith(QLatin1String("/proc"))) return;
    // A save that fails leaves the name of the last good one.
    const QString good = Path(QStringLiteral("good.txt"));
    W->dlgSaveResults->SetFileName(good);
    WhenModal<QFileDialog>([&](QFileDialog* d) { TypeFileName(d, name); });
    TBoxCounter boxes;
    ClickRow(W->lstResults, 0);
    PressKey(Qt::Key_S, Qt::ControlModifier);
    QTRY_COMPARE(boxes.Count, 1);
    QCOMPARE(W->dlgSaveResults->FileName(), good);
  }

  void OwnedWindowsStayAboveAndTheLogFitsItsLines() {
    // A file whose every read fails (the system's view of a process's memory, at offset 0):
    // its error goes to the log.
    const QString huge = Write(QStringLiteral("big.txt"), "foo");
    QVERIFY(::unlink(huge.toLocal8Bit().constData()) == 0);
    QVERIFY(::symlink("/proc/self/mem", huge.toLocal8Bit().constData()) == 0);
    Search();
    QCOMPARE(W->ErrorLog().size(), 1);
    QVERIFY(W->acViewLog->Execute());
    QVERIFY(W->acSelectDirectory->Execute());
    for (QWidget* owned : {static_cast<QWidget*>(W->LogWindow), static_cast<QWidget*>(W->SelDirDialog)}) {
      QCOMPARE(owned->windowType(), Qt::Dialog);
      QCOMPARE(owned->windowHandle()->transientParent(), W->windowHandle());
    }
    const QFontMetrics fm(W->LogWindow->ListBox1->font());
    QVERIFY(W->LogWindow->ListBox1->viewport()->width() >= fm.horizontalAdvance(W->ErrorLog().first()));
    SaveShot(W->LogWindow, QStringLiteral("error-log"));
  }

  void ADeletedFileIsReportedOnce() {
    Write(QStringLiteral("b.txt"), "foo\nfoo\nfoo\n");
    Search();
    QFile::remove(Path(QStringLiteral("b.txt")));
    TBoxCounter boxes;
    ClickRow(W->lstResults, 2);  // b.txt
    QTRY_COMPARE(boxes.Count, 1);
    QVERIFY(ActivateWindow(W));
    ClickRow(W->lstResults, 3);  // its first line
    for (int i = 0; i < 2; ++i) PressKey(Qt::Key_Down);
    RunLoop(100);
    QCOMPARE(boxes.Count, 1);
    QCOMPARE(W->lstResults->ItemIndex(), 5);
  }

  void ControlBytesShowAsPlaceholdersWithoutWarnings() {
    const std::string_view bytes("a\x01\tb\x1b\x7f\0", 7);
    QCOMPARE(ShownText(bytes, true), QStringLiteral("a\u2401\tb\u241b\u2421\u2400"));
    QCOMPARE(ShownText(bytes, false), QStringLiteral("a^A\tb^[^?^@"));
    QByteArray line = "foo";
    for (char c = 1; c < 32; ++c) line += c == '\n' || c == '\r' ? ' ' : c;
    Write(QStringLiteral("ctl.txt"), line + "\x7f\x80\x9f\n");
    Search();
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler old = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) { warnings << m; });
    ClickRow(W->lstResults, 3);
    W->lstResults->viewport()->grab();
    W->lstPreview->viewport()->grab();
    qInstallMessageHandler(old);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
  }

  void PrintWrapsLongLines() {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) QSKIP("pdftotext is missing");
    Write(QStringLiteral("long.txt"), QByteArray(600, 'x') + "foo END\n");
    Search();
    const QString pdf = Path(QStringLiteral("print.pdf"));
    App.ChosenPrinter() = PdfPrinter(pdf);
    const auto forget = qScopeGuard([this] { App.ChosenPrinter() = nullptr; });
    QVERIFY(W->acPrint->Execute());
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(30000));
    const QString out = QString::fromUtf8(text.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("foo END")), qPrintable(out));
  }

  void AScreenReaderHearsTheListsNamesAndTheMarkedFinds() {
    // (Which list sends focus events needs an active accessibility bridge, which the offscreen
    // platform has not.)
    QCOMPARE(QAccessible::queryAccessibleInterface(W->lstResults)->text(QAccessible::Name), QStringLiteral("Results"));
    QCOMPARE(QAccessible::queryAccessibleInterface(W->lstPreview)->text(QAccessible::Name), QStringLiteral("Preview"));
    W->Params()->GetResult(0)->GetLine(0)->SetFindSelected(1, true);
    const QString description = QAccessible::queryAccessibleInterface(W->lstResults)->child(1)->text(QAccessible::Description);
    QCOMPARE(description, QStringLiteral("Line 1 of ") + Path(QStringLiteral("a.txt")) +
                              QStringLiteral("; finds 2 of 4 marked for replacing"));
  }
};

int main(int argc, char** argv) {
  TTrawlexApplication app(argc, argv);
  TWindowInputTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "WindowInputTests.moc"

// The window routines, actions and status panels: combo histories, panel texts, menus from
// actions, label look-up, message boxes, the save dialog's overwrite question, desktop requests
// and the enabled rules of actions.
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include "ui/ActionList.h"
#include "ui/lists/ListBox.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/services/ShellServices.h"
#include "ui/controls/StatusBar.h"
#include "ui/UiTestUtil.h"
#include "ui/WindowRoutines.h"

using namespace trawlex;
using namespace trawlex::uitest;

namespace {

QStringList Items(const QComboBox& c) {
  QStringList l;
  for (int i = 0; i < c.count(); ++i) l << c.itemText(i);
  return l;
}

}  // namespace

class WindowRoutineTests : public QObject {
  Q_OBJECT
 private slots:
  void PushComboHistory_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QStringList twenty;
    for (int i = 0; i < 20; ++i) twenty << QStringLiteral("d%1").arg(i);
    QStringList newFirst = QStringList{QStringLiteral("new")} + twenty.mid(0, 19);
    QStringList moved = twenty;
    moved.move(5, 0);
    QTest::newRow("new text in a full list drops the last") << twenty << "new" << newFirst;
    QTest::newRow("text at position 5 moves to the top") << twenty << "d5" << moved;
    QTest::newRow("other capitalisation is the same entry")
        << QStringList{"a", "Src"} << "SRC" << QStringList{"SRC", "a"};
    QTest::newRow("already first: nothing changes") << QStringList{"x", "y"} << "X" << QStringList{"x", "y"};
    QTest::newRow("empty text: nothing changes") << QStringList{"x"} << "" << QStringList{"x"};
    QTest::newRow("new text in a short list") << QStringList{"x"} << "y" << QStringList{"y", "x"};
    QStringList long25 = twenty;
    for (int i = 20; i < 25; ++i) long25 << QStringLiteral("d%1").arg(i);
    QTest::newRow("a list past the limit is cut back to it") << long25 << "new" << newFirst;
    QTest::newRow("moved in a list past the limit") << long25 << "d5" << moved;
  }
  void PushComboHistory() {
    QFETCH(QStringList, items);
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QComboBox combo;
    combo.setEditable(true);
    combo.addItems(items);
    combo.setEditText(text);
    combo.lineEdit()->setSelection(0, static_cast<int>(text.size()) > 1 ? 1 : 0);
    const int selStart = combo.lineEdit()->selectionStart();
    trawlex::PushComboHistory(&combo, 20);
    QCOMPARE(Items(combo), expected);
    if (!text.isEmpty()) {
      QCOMPARE(combo.currentText().toUpper(), text.toUpper());
      if (text.size() > 1) QCOMPARE(combo.lineEdit()->selectionStart(), selStart);
    }
  }

  void PanelNumbersAndCounts_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("byNumber");
    QTest::addColumn<QString>("byCount");
    QTest::newRow("with colon") << "Files: 12" << 13 << "Files: 13" << "Files: 13";
    QTest::newRow("without colon") << "12" << 13 << "13" << " 13";
    QTest::newRow("only first colon counts") << "Line: 1: x" << 7 << "Line: 7" << "Line: 7";
  }
  void PanelNumbersAndCounts() {
    QFETCH(QString, before);
    QFETCH(int, number);
    QFETCH(QString, byNumber);
    QFETCH(QString, byCount);
    TStatusBar bar;
    bar.AddPanel(10);
    bar.Panel(0).SetText(before);
    SetPanelNumber(bar, 0, number);
    QCOMPARE(bar.Panel(0).Text(), byNumber);
    QCOMPARE(bar.Panel(0).Width(), bar.fontMetrics().horizontalAdvance(byNumber) + 8);
    bar.Panel(0).SetText(before);
    SetPanelCount(bar.Panel(0), number);
    QCOMPARE(bar.Panel(0).Text(), byCount);
    QCOMPARE(bar.Panel(0).Width(), bar.fontMetrics().horizontalAdvance(byCount) + 8);
  }

  void PanelRightTextEndsAtTheRightEdge() {
    TStatusBar bar;
    TStatusPanel& p = bar.AddPanel(200);
    p.SetText(QStringLiteral("Finds in Line: 3"));
    const QFontMetrics fm = bar.fontMetrics();
    SetPanelRightText(p, QStringLiteral("12"));
    QCOMPARE(p.Width(), 200);
    QVERIFY(p.Text().startsWith(QStringLiteral("Finds in Line:  ")));
    QVERIFY(p.Text().endsWith(QStringLiteral(" 12")));
    const int blanks = static_cast<int>(p.Text().size()) - 14 - 2;
    QCOMPARE(blanks, std::max(2, (200 - fm.horizontalAdvance(QStringLiteral("Finds in Line:")) -
                                  fm.horizontalAdvance(QStringLiteral("12")) - 8) /
                                     fm.horizontalAdvance(QLatin1Char(' '))));
    // A panel too narrow still gets two blanks.
    p.SetWidth(5);
    SetPanelRightText(p, QString());
    QCOMPARE(p.Text(), QStringLiteral("Finds in Line:  "));
  }

  void StripAcceleratorAndCategoryMenus() {
    QCOMPARE(StripAccelerator(QStringLiteral("&File")), QStringLiteral("File"));
    QCOMPARE(StripAccelerator(QStringLiteral("Save && &Print")), QStringLiteral("Save & Print"));
    QWidget host;
    TActionList list(&host);
    list.Add(QStringLiteral("acSave"), QStringLiteral("&Save"), QStringLiteral("File"));
    list.Add(QStringLiteral("acCopy"), QStringLiteral("&Copy"), QStringLiteral("Edit"));
    list.Add(QStringLiteral("acExit"), QStringLiteral("E&xit"), QStringLiteral("File"));
    list.Add(QStringLiteral("acLower"), QStringLiteral("Lower"), QStringLiteral("file"));
    QMenu file(QStringLiteral("&File"));
    AddCategoryActionsToMenu(&file, list);
    QStringList names;
    for (QAction* a : file.actions()) names << a->objectName();
    QCOMPARE(names, (QStringList{"acSave", "acExit"}));
    QMenu popup;
    FillPopupFromActions(&popup, list);
    QCOMPARE(popup.actions().size(), 4);
  }

  void FindLabelTextSearchesContainersFromTheLast() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new QLineEdit(&window);
    auto* empty = new QLabel(QString(), &window);
    empty->setBuddy(edit);
    auto* group = new QGroupBox(&window);
    auto* inner = new QLabel(QStringLiteral("&Target"), group);
    inner->setBuddy(edit);
    auto* other = new QLineEdit(&window);
    layout->addWidget(empty);
    layout->addWidget(edit);
    layout->addWidget(group);
    layout->addWidget(other);
    QCOMPARE(FindLabelText(edit), QStringLiteral("&Target"));
    QCOMPARE(FindLabelText(other), QString());
  }

  void WidenFormForTextWidensOnlyWhenNeeded() {
    QWidget window;
    window.resize(100, 50);
    auto* label = new QLabel(&window);
    label->setGeometry(0, 0, 40, 20);
    const QString text = QStringLiteral("A rather long title for this label");
    const int needed = 8 + label->fontMetrics().horizontalAdvance(text);
    WidenFormForText(label, text, 8);
    QCOMPARE(window.width(), 100 + needed - 40);
    const int wide = window.width();
    WidenFormForText(label, QStringLiteral("x"), 8);
    QCOMPARE(window.width(), wide);
  }

  void SetEditTextQuietlyFiresNoChange() {
    QLineEdit edit;
    QSignalSpy spy(&edit, &QLineEdit::textChanged);
    SetEditTextQuietly(&edit, QStringLiteral("quiet"));
    QCOMPARE(edit.text(), QStringLiteral("quiet"));
    QCOMPARE(spy.count(), 0);
    edit.setText(QStringLiteral("loud"));
    QCOMPARE(spy.count(), 1);  // the notification is attached again
  }

  // Each box has its caption, and is wide enough to show it whole even for a short text.
  void MessageBoxesHaveTheirCaptions_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("caption");
    QTest::newRow("yes") << "ask" << int(QMessageBox::Yes) << true << "Confirm";
    QTest::newRow("no") << "ask" << int(QMessageBox::No) << false << "Confirm";
    QTest::newRow("information") << "info" << int(QMessageBox::Ok) << false << "Information";
    QTest::newRow("error") << "error" << int(QMessageBox::Ok) << false << "Error";
  }
  void MessageBoxesHaveTheirCaptions() {
    QFETCH(QString, kind);
    QFETCH(int, button);
    QFETCH(bool, answer);
    QFETCH(QString, caption);
    QString title, text;
    int width = 0, roomForCaption = 0;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      title = box->windowTitle();
      text = box->text();
      width = box->width();
      QFont bold = box->font();
      bold.setBold(true);
      // The caption, the title bar's icon and its three buttons.
      roomForCaption = QFontMetrics(bold).horizontalAdvance(title) + 6 * QFontMetrics(bold).height();
      box->button(QMessageBox::StandardButton(button))->click();
    });
    if (kind == "ask") QCOMPARE(AskYesNo(QStringLiteral("Go")), answer);
    if (kind == "info") ShowInfo(QStringLiteral("Go"));
    if (kind == "error") ReportError(QStringLiteral("Go"));
    QCOMPARE(title, caption);
    QCOMPARE(text, QStringLiteral("Go"));
    QVERIFY2(width >= roomForCaption, qPrintable(QStringLiteral("%1 < %2").arg(width).arg(roomForCaption)));
  }

  void SaveDialogAsksBeforeOverwriting_data() {
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("reply");
    QTest::addColumn<bool>("expected");
    QTest::newRow("new file") << false << -1 << true;
    QTest::newRow("existing, yes") << true << int(QMessageBox::Yes) << true;
    QTest::newRow("existing, no") << true << int(QMessageBox::No) << false;
  }
  void SaveDialogAsksBeforeOverwriting() {
    QFETCH(bool, exists);
    QFETCH(int, reply);
    QFETCH(bool, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.txt"));
    if (exists) {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
    }
    TSaveDialog dialog(nullptr, QStringLiteral("dlgSaveResults"));
    dialog.SetFilter(QStringLiteral("Text files (*.txt)|*.txt|All files (*.*)|*.*"));
    dialog.SetDefaultExt(QStringLiteral("txt"));
    QString question;
    WhenModal<QFileDialog>([&](QFileDialog* fd) {
      QCOMPARE(fd->nameFilters(), (QStringList{"Text files (*.txt)", "All files (*)"}));
      if (reply >= 0) AnswerMessageBox(QMessageBox::StandardButton(reply), nullptr, &question);
      TypeFileName(fd, path);
    });
    QCOMPARE(ExecuteSaveDialog(dialog), expected);
    QCOMPARE(dialog.FileName(), path);
    if (exists) QCOMPARE(question, QStringLiteral("File ") + path + QStringLiteral(" already exists. Overwrite?"));
  }

  void CancelledSaveDialogAnswersFalse() {
    TSaveDialog dialog;
    dialog.SetFileName(QStringLiteral("search.txt"));
    WhenModal<QDialog>([](QDialog* d) { d->reject(); });
    QVERIFY(!ExecuteSaveDialog(dialog));
    QCOMPARE(dialog.FileName(), QStringLiteral("search.txt"));
  }

  void DesktopRequests() {
    TRecordingShell shell;
    QVERIFY(ShellOpen(shell, QStringLiteral("/tmp/a b.txt")));
    QVERIFY(ShellOpen(shell, QStringLiteral("/usr/bin/editor"), QStringLiteral("\"/tmp/a b.txt\" +12")));
    QList<bool> answers;
    const auto answered = [&answers](bool ok) { answers << ok; };
    ExploreSelect(shell, QStringLiteral("/tmp/dir/file.txt"), answered);  // no file manager: the folder opens
    shell.FileManager = true;
    ExploreSelect(shell, QStringLiteral("/tmp/dir/file.txt"), answered);
    QCOMPARE(answers, (QList<bool>{true, true}));
    QCOMPARE(shell.Calls, (QStringList{"open file:///tmp/a b.txt", "start /usr/bin/editor /tmp/a b.txt|+12",
                                       "show file:///tmp/dir/file.txt", "open file:///tmp/dir",
                                       "show file:///tmp/dir/file.txt"}));
  }

  void ExploreSelectWithoutASessionBusOpensTheFolder() {
    // The tests run without a session bus: the desktop's ShowItems call fails quietly.
    int answers = 0;
    bool shown = true;
    const std::unique_ptr<IShellServices> desktop = MakeDesktopShell();
    desktop->ShowItems({QUrl::fromLocalFile(QStringLiteral("/tmp"))}, [&](bool ok) {
      ++answers;
      shown = ok;
    });
    QTRY_COMPARE(answers, 1);
    QVERIFY(!shown);
  }

  void BusyCursorSectionsNest() {
    const auto busy = [] { return QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor; };
    SetBusyCursor(true);
    SetBusyCursor(true);
    QVERIFY(busy());
    SetBusyCursor(false);
    QVERIFY(busy());  // the outer section is still busy
    SetBusyCursor(false);
    QVERIFY(!QApplication::overrideCursor());
    SetBusyCursor(false);  // one too many changes nothing
    SetBusyCursor(true);
    QVERIFY(busy());
    SetBusyCursor(false);
    QVERIFY(!QApplication::overrideCursor());
    {
      TBusyCursor outer;
      try {
        TBusyCursor inner;
        throw std::runtime_error("fails");
      } catch (const std::exception&) {
      }
      QVERIFY(busy());
    }
    QVERIFY(!QApplication::overrideCursor());
    // A cursor that someone else set stays when a busy section ends.
    QApplication::setOverrideCursor(Qt::CrossCursor);
    SetBusyCursor(true);
    QVERIFY(busy());
    SetBusyCursor(false);
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
    QApplication::restoreOverrideCursor();
  }

  void DroppedFileNameTakesExactlyOneLocalPath_data() {
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one") << QStringList{"file:///tmp/x"} << "/tmp/x";
    QTest::newRow("two") << QStringList{"file:///tmp/x", "file:///tmp/y"} << "";
    QTest::newRow("remote") << QStringList{"https://example.org/x"} << "";
    QTest::newRow("none") << QStringList{} << "";
  }
  void DroppedFileNameTakesExactlyOneLocalPath() {
    QFETCH(QStringList, urls);
    QFETCH(QString, expected);
    QMimeData data;
    QList<QUrl> list;
    for (const QString& u : urls) list << QUrl(u);
    data.setUrls(list);
    QCOMPARE(DroppedFileName(&data), expected);
  }

  void ListItemHeightFollowsTheFont() {
    TListBox list;
    QFont f = list.font();
    f.setPixelSize(30);
    list.setFont(f);
    SetListItemHeight(list);
    QCOMPARE(list.ItemHeight(), QFontMetrics(f).height());
  }

  // ---- Actions ------------------------------------------------------------------------------

  void DisabledActionDoesNothingEvenThroughItsShortcut() {
    QWidget window;
    TActionList list(&window);
    TAction* a = list.Add(QStringLiteral("acGo"), QStringLiteral("&Go"), QStringLiteral("File"),
                          QKeySequence(QStringLiteral("Ctrl+G")), QStringLiteral("Go somewhere"));
    window.addAction(a);
    bool allowed = false;
    int runs = 0;
    a->SetEnabledRule([&] { return allowed; });
    a->OnExecute = [&](TAction&) { ++runs; };
    QCOMPARE(a->toolTip(), QStringLiteral("Go somewhere"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    RunLoop(20);  // idle: the rule runs
    QVERIFY(!a->isEnabled());
    PressKey(Qt::Key_G, Qt::ControlModifier);
    QVERIFY(!a->Execute());
    QCOMPARE(runs, 0);
    allowed = true;
    RunLoop(20);
    QVERIFY(a->isEnabled());
    PressKey(Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(runs, 1);
    // Enabled at the last idle time, disabled by now: the rule runs again before the action.
    allowed = false;
    a->trigger();
    QCOMPARE(runs, 1);
    QVERIFY(!a->isEnabled());
  }

  void FailingActionShowsAnErrorAndGoesOn() {
    QWidget window;
    TActionList list(&window);
    TAction* a = list.Add(QStringLiteral("acFail"), QStringLiteral("Fail"));
    a->OnExecute = [](TAction&) { throw std::runtime_error("Disk full"); };
    QString title, text;
    AnswerMessageBox(QMessageBox::Ok, &title, &text);
    QVERIFY(a->Execute());
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("Disk full"));
  }
};

QTEST_MAIN(WindowRoutineTests)
#include "WindowRoutineTests.moc"

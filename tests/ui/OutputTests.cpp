// Results out of the search window: the report's bytes (file and printer), writing it over an old
// file on a full disk, the finds memo, copy line, selecting all finds and which shortcuts win in
// an input field, the whole-file viewer, the preferred editor's arguments and window, and the
// programs a result opens in.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QProcess>
#include <QPrinter>
#include <QScopeGuard>
#include <QTextBlock>
#include <QToolButton>
#include <QtTest>
#include <sys/mount.h>

#include "UiTestUtil.h"
#include "config/RegistryConfig.h"
#include "engine/Report.h"
#include "engine/SearchParams.h"
#include "ui/Action.h"
#include "ui/Application.h"
#include "ui/controls/DirComboBox.h"
#include "ui/lists/ListBox.h"
#include "ui/dialogs/MemoViewer.h"
#include "ui/services/PreferredEditor.h"
#include "ui/lists/ResultList.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/search/SearchWindow.h"
#include "ui/services/ShellServices.h"
#include "ui/controls/StatusBar.h"
#include "ui/services/TextPrinter.h"
#include "ui/dialogs/ViewText.h"
#include "ui/controls/WildCardMemo.h"

using namespace trawlex;
using namespace trawlex::uitest;

namespace {

QString Write(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  f.write(content);
  return path;
}

QByteArray Read(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

// A text file's lines with their line ends, so that a difference shows where it is.
QByteArrayList Lines(const QByteArray& bytes) {
  QByteArrayList lines = bytes.split('\n');
  for (QByteArray& l : lines) l += "|";
  return lines;
}

// a.txt: finds on lines 3 and 12 (a tab before the second); sub/b.txt: the larger file, two
// finds on its first line.
struct TTree {
  QTemporaryDir Dir;
  QString A, B;
  TTree() {
    QByteArray a = "one\ntwo\nint foo = 1;\n";
    for (int i = 4; i <= 11; ++i) a += "filler\n";
    a += "\treturn foo;\n";
    A = Write(Dir.filePath("a.txt"), a);
    B = Write(Dir.filePath("sub/b.txt"), "foo foo\n" + QByteArray(400, 'z') + "\n");
  }
};

template <class T>
QList<T*> Windows() {
  QList<T*> list;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = qobject_cast<T*>(w)) list << t;
  return list;
}

}  // namespace

class TOutputTests : public QObject {
  Q_OBJECT

 public:
  // The application every window of these tests belongs to.
  TApp App;

  TTestStore Store;
  std::unique_ptr<TAppSettings> Settings;
  TTree Tree;
  TfmSearch* W = nullptr;

  void Search(const QString& target = QStringLiteral("foo")) {
    W->cbxTarget->setEditText(target);
    W->cbxDirectory->SetDirectory(Tree.Dir.path());
    W->memPatterns->setPlainText(QStringLiteral("*.txt"));
    W->acSearch->Execute();
    QTRY_VERIFY_WITH_TIMEOUT(!W->Running(), 20000);
  }
  QString Panel(int i) { return W->StatusBar1->Panel(i).Text(); }
  // Selects the entry `row` of the results with a click on it.
  void ClickRow(int row) {
    const int h = W->lstResults->ItemHeight();
    QTest::mouseClick(W->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      W->lstResults->viewport()->mapTo(W, QPoint(20, row * h + h / 2)));
    QCOMPARE(W->lstResults->ItemIndex(), row);
  }
  QByteArray Header() {
    QByteArray h = "Time: " + QByteArray::fromStdString(FormatDateTime(ReportTimePattern, W->Params()->SearchTime)) + "\r\n";
    for (const std::string& d : W->Params()->GetDescription()) h += QByteArray::fromStdString(d) + "\r\n";
    return h + "Found in 2 of 2 files\r\nFinds: 4\r\n";
  }
  void ResetEditor() {
    Settings->PreferredEditor->SetAsString("");
    Settings->EditorArgs->SetAsString("<f>");
  }
  void SaveWithCtrlS(const QString& path) {
    QVERIFY(ActivateWindow(W));
    W->cbxTarget->setFocus();
    WhenModal<QFileDialog>([path](QFileDialog* d) { TypeFileName(d, path); });
    PressKey(Qt::Key_S, Qt::ControlModifier);
  }

 private slots:
  void initTestCase() {
    Settings = std::make_unique<TAppSettings>(Store.Open());
    App.SetSettings(Settings.get());
    App.SetQuitHandler([] {});
  }
  void init() {
    QFile::remove(QString::fromStdString(SettingsFileFor(SettingsRootKey())));  // no view left from another test
    W = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, App);
    QVERIFY(ActivateWindow(W));
    Search();
  }
  void cleanup() {
    App.SetShell(nullptr);
    App.Exit();
    QVERIFY(App.WaitForWorkers(20000));
    FlushDeletes();
  }

  void ReportBytesFollowTheListAsShown() {
    QTemporaryDir out;
    const QString path = out.filePath("search.txt");
    W->cbxTarget->setFocus();
    SaveWithCtrlS(path);
    QTRY_VERIFY(QFile::exists(path));
    const QByteArray a = Tree.A.toUtf8(), b = Tree.B.toUtf8();
    QCOMPARE(Lines(Read(path)), Lines(Header() + a + "\r\n  3: int foo = 1;\r\n 12: \treturn foo;\r\n" + b + "\r\n  1: foo foo\r\n"));

    // Sorted by size, descending, file names only: the larger file first, no lines.
    W->SortActions[1]->Execute();
    W->acDescending->setChecked(true);
    W->acDescending->Execute();
    W->acHideResultLines->setChecked(true);
    W->acHideResultLines->Execute();
    QString question;
    AnswerMessageBox(QMessageBox::Yes, nullptr, &question);
    SaveWithCtrlS(path);
    QTRY_COMPARE(Lines(Read(path)), Lines(Header() + b + "\r\n" + a + "\r\n"));
    QCOMPARE(question, "File " + path + " already exists. Overwrite?");
  }

  void FullDiskLeavesTheOldReportAsItWas() {
    QTemporaryDir mnt;
    if (mount("tmpfs", mnt.path().toLocal8Bit().constData(), "tmpfs", 0, "size=16k") != 0) QSKIP("no tmpfs here");
    const auto undo = qScopeGuard([&] {
      umount(mnt.path().toLocal8Bit().constData());
      QFile::remove(Tree.Dir.filePath("big.txt"));
    });
    const QString path = mnt.filePath("search.txt");
    Write(path, "OLD REPORT\r\n");
    Write(mnt.filePath("filler"), QByteArray(12 * 1024, 'x'));
    // Enough finds that the report does not fit in what is left.
    Write(Tree.Dir.filePath("big.txt"), QByteArray("foo line\n").repeated(600));
    Search();
    QVERIFY_THROWS_EXCEPTION(std::exception, W->WriteResults(path));
    QString title;
    WhenModal<QMessageBox>([&title](QMessageBox* box) {
      box->button(QMessageBox::Yes)->click();  // overwrite: yes
      AnswerMessageBox(QMessageBox::Ok, &title);
    });
    SaveWithCtrlS(path);
    QTRY_COMPARE(title, QStringLiteral("Error"));
    QCOMPARE(Read(path), QByteArray("OLD REPORT\r\n"));
    QCOMPARE(QDir(mnt.path()).entryList(QDir::Files).size(), 2);  // no temporary file left

    // The same for a print to a PDF file.
    QFile::remove(path);
    const QString pdf = Write(mnt.filePath("print.pdf"), "OLD PDF");
    App.ChosenPrinter() = PdfPrinter(pdf);
    title.clear();
    AnswerMessageBox(QMessageBox::Ok, &title);
    QVERIFY(ActivateWindow(W));
    W->cbxTarget->setFocus();
    PressKey(Qt::Key_P, Qt::ControlModifier);
    App.ChosenPrinter() = nullptr;
    QTRY_COMPARE(title, QStringLiteral("Error"));
    QCOMPARE(Read(pdf), QByteArray("OLD PDF"));
    QCOMPARE(QDir(mnt.path()).entryList(QDir::Files), (QStringList{"filler", "print.pdf"}));
  }

  void PrintedReportReadsBackWithItsStyles() {
    QTemporaryDir out;
    const QString pdf = out.filePath("print.pdf");
    App.ChosenPrinter() = PdfPrinter(pdf);
    W->cbxTarget->setFocus();
    PressKey(Qt::Key_P, Qt::ControlModifier);
    App.ChosenPrinter() = nullptr;
    QProcess text, fonts;
    text.start("pdftotext", {"-layout", pdf, "-"});
    QVERIFY(text.waitForFinished());
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    for (const QString& expected : {QString("Target: foo"), QString("Found in 2 of 2 files"), Tree.A, QString("3: int foo = 1;"),
                                    QString("return foo;"), Tree.B, QString("1: foo foo")})
      QVERIFY2(printed.contains(expected), qPrintable(expected + " missing in\n" + printed));
    fonts.start("pdffonts", {pdf});
    QVERIFY(fonts.waitForFinished());
    const QString used = QString::fromUtf8(fonts.readAllStandardOutput());
    QVERIFY2(used.contains("Bold") && (used.contains("Oblique") || used.contains("Italic")), qPrintable(used));
  }

  void SetupPrinterCancelledKeepsTheDefault() {
    WhenModal<QPrintDialog>([](QPrintDialog* d) { d->reject(); });
    W->acSetupPrinter->Execute();
    QVERIFY(!App.ChosenPrinter());
  }

  void MemoListsEveryLineWhateverTheViewAndTrims() {
    W->acHideResultLines->setChecked(true);
    W->acHideResultLines->Execute();
    W->cbxTarget->setFocus();
    PressKey(Qt::Key_M, Qt::ControlModifier);
    QTRY_COMPARE(Windows<TfmMemoViewer>().size(), 1);
    TfmMemoViewer* memo = Windows<TfmMemoViewer>().first();
    QVERIFY(ActivateWindow(memo));
    QTRY_COMPARE(QApplication::focusWidget(), memo->Memo);
    const QStringList all{Tree.A, "  3: int foo = 1;", " 12: \treturn foo;", Tree.B, "  1: foo foo"};
    QCOMPARE(memo->Lines(), all);
    const auto bytes = [](const QStringList& l) { return QString::number(l.join("\r\n").toUtf8().size() + 2); };
    SaveShot(memo, "finds-memo");
    QCOMPARE(memo->StatusBar1->Panel(1).Text(), QStringLiteral("5"));
    QCOMPARE(memo->StatusBar1->Panel(3).Text(), bytes(all));

    QTextCursor c = memo->Memo->textCursor();
    c.setPosition(memo->Memo->document()->findBlockByNumber(1).position() + 4);
    c.setPosition(c.position() + 3, QTextCursor::KeepAnchor);
    memo->Memo->setTextCursor(c);
    PressKey(Qt::Key_Y, Qt::ControlModifier);  // a selection: nothing
    c.clearSelection();
    memo->Memo->setTextCursor(c);
    PressKey(Qt::Key_Y, Qt::ControlModifier | Qt::ShiftModifier);  // Shift too: nothing
    QCOMPARE(memo->Lines(), all);
    PressKey(Qt::Key_Y, Qt::ControlModifier);
    QStringList left = all;
    left.removeAt(1);
    QCOMPARE(memo->Lines(), left);
    QCOMPARE(memo->StatusBar1->Panel(1).Text(), QStringLiteral("4"));
    QCOMPARE(memo->StatusBar1->Panel(3).Text(), bytes(left));

    QTemporaryDir out;
    W->dlgSaveResults->SetFileName(out.filePath("memo.txt"));
    WhenModal<QFileDialog>([](QFileDialog* d) { QMetaObject::invokeMethod(d, "accept"); });
    ClickAt(memo->btnSave);
    QCOMPARE(Read(out.filePath("memo.txt")), (left.join("\r\n") + "\r\n").toUtf8());
    QCOMPARE(Read(out.filePath("memo.txt")).size(), memo->StatusBar1->Panel(3).Text().toInt());
  }

  void SelectAllAndCopyWinInAnInputFieldOnlyWhereTheyShould() {
    // In an input field Ctrl+A and Ctrl+C are the field's, as in any editor: taking them for the
    // results made the next keys add to the old text. Ctrl+U still deselects every find.
    W->acSelectAllFinds->Execute();
    QCOMPARE(Panel(3), QStringLiteral("Selected: 4"));
    W->cbxTarget->setFocus();
    W->cbxTarget->lineEdit()->deselect();
    PressKey(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(W->cbxTarget->lineEdit()->selectedText(), QStringLiteral("foo"));
    PressKey(Qt::Key_U, Qt::ControlModifier);
    QCOMPARE(Panel(3), QStringLiteral("Selected: 0"));
    W->acReplace->Update();
    QVERIFY(!W->acReplace->isEnabled());

    // Copy line: the raw line, tab and all, without its number; a file item gives its path.
    ClickRow(2);
    PressKey(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("\treturn foo;"));
    ClickRow(0);
    PressKey(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), Tree.A);
    // In the field Ctrl+C copies the field's text, never the result line.
    W->cbxTarget->setFocus();
    W->cbxTarget->lineEdit()->setSelection(0, 2);
    PressKey(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("fo"));
    // From the results list Ctrl+A selects all finds.
    ClickRow(1);
    PressKey(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(Panel(3), QStringLiteral("Selected: 4"));
  }

  void ViewerShowsTheLineAndClosesWithItsWindow() {
    Write(Tree.Dir.filePath("mixed.txt"), "l1\r\nl2\nl3\rfoo l4\r\n");
    const auto undo = qScopeGuard([this] { QFile::remove(Tree.Dir.filePath("mixed.txt")); });
    Search();
    ClickRow(4);  // a.txt, its two lines, mixed.txt, its line 4
    W->acViewWholeFile->Execute();
    ClickRow(0);  // a file item: line 1
    W->acViewWholeFile->Execute();
    QList<TfmViewText*> viewers = Windows<TfmViewText>();
    QCOMPARE(viewers.size(), 2);
    std::sort(viewers.begin(), viewers.end(), [](auto* x, auto* y) { return x->windowTitle() > y->windowTitle(); });
    QCOMPARE(viewers[1]->windowTitle(), Tree.A);
    QCOMPARE(viewers[0]->ListBox1->count(), 4);
    QCOMPARE(viewers[0]->ListBox1->currentItem()->text(), QStringLiteral("foo l4"));
    QCOMPARE(viewers[0]->StatusBar->Panel(0).Text(), QStringLiteral("Line: 4"));
    SaveShot(viewers[0], "whole-file-viewer");
    QCOMPARE(viewers[1]->StatusBar->Panel(0).Text(), QStringLiteral("Line: 1"));
    // A line past the end selects nothing.
    viewers[1]->SelectLine(99);
    QCOMPARE(viewers[1]->StatusBar->Panel(0).Text(), QStringLiteral("Line: 0"));
    // A file gone since the search: an error box, and no empty viewer.
    QFile::remove(Tree.Dir.filePath("mixed.txt"));
    QString previewText;
    AnswerMessageBox(QMessageBox::Ok, nullptr, &previewText);  // the preview cannot read it either
    ClickRow(4);
    QTRY_VERIFY(!previewText.isEmpty());
    QString text;
    AnswerMessageBox(QMessageBox::Ok, nullptr, &text);
    W->acViewWholeFile->Execute();
    QTRY_VERIFY(text.startsWith("Cannot open file " + Tree.Dir.filePath("mixed.txt")));
    QCOMPARE(Windows<TfmViewText>().size(), 2);
    QPointer<TfmViewText> kept(viewers[0]);
    W->close();
    FlushDeletes();
    QVERIFY(!kept);
  }

  void ExpandEditorArgs_data() {
    QTest::addColumn<QString>("templ");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("default") << "<f>" << 123 << "c:\\site\\index.php" << "\"c:\\site\\index.php\"" << QStringList{"c:\\site\\index.php"};
    QTest::newRow("capitals") << "<F> --line <N>" << 7 << "D:\\a b\\x.txt" << "\"D:\\a b\\x.txt\" --line 7"
                              << QStringList{"D:\\a b\\x.txt", "--line", "7"};
    QTest::newRow("line-twice") << "+<n> <f> -l<n>" << 5 << "/x" << "+5 \"/x\" -l5" << QStringList{"+5", "/x", "-l5"};
    QTest::newRow("token-in-path") << "<f>:<n>" << 9 << "/t/<n>/<f>" << "\"/t/<n>/<f>\":9" << QStringList{"/t/<n>/<f>:9"};
    QTest::newRow("no-file") << "--new" << 1 << "/x" << "--new" << QStringList{"--new"};
    const QString hostile = "/tmp/a b\"c'd; touch PWNED $(touch PWNED2) `id`.txt";
    QTest::newRow("hostile") << "<f>" << 3 << hostile << "\"" + hostile + "\"" << QStringList{hostile};
    QTest::newRow("hostile-quoted") << "\"--file=<f>\" +<n>" << 3 << hostile << "\"--file=\"" + hostile + "\"\" +3"
                                    << QStringList{"--file=" + hostile, "+3"};
  }
  void ExpandEditorArgs() {
    QFETCH(QString, templ);
    QFETCH(int, line);
    QFETCH(QString, path);
    QFETCH(QString, text);
    QFETCH(QStringList, args);
    QCOMPARE(trawlex::ExpandEditorArgs(templ, line, path), text);
    QCOMPARE(EditorArguments(templ, line, path), args);
  }

  void EditorGetsAHostilePathAsOneArgument() {
    const auto undo = qScopeGuard([this] { ResetEditor(); });
    QTemporaryDir dir;
    const QString editor = Write(dir.filePath("editor"), "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$0.args\"\n");
    QFile::setPermissions(editor, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString hostile = dir.filePath("x;touch PWNED $(touch PWNED2) `touch PWNED3` 'q\" z.txt");
    Write(hostile, "foo\n");
    Settings->PreferredEditor->SetAsString(editor.toStdString());
    Settings->EditorArgs->SetAsString("--goto <n> <f>");
    W->cbxDirectory->SetDirectory(dir.path());
    W->memPatterns->setPlainText(QStringLiteral("*.txt"));
    W->acSearch->Execute();
    QTRY_VERIFY_WITH_TIMEOUT(!W->Running(), 20000);
    ClickRow(1);
    W->acOpenInPreferredEditor->Execute();
    QTRY_VERIFY(QFile::exists(editor + ".args"));
    QTRY_COMPARE(Read(editor + ".args"), (QByteArray("--goto\0" "1\0", 9) + hostile.toUtf8() + '\0'));
    QVERIFY(!QFile::exists(dir.filePath("PWNED")) && !QFile::exists(dir.filePath("PWNED2")) &&
            !QFile::exists(dir.filePath("PWNED3")) && !QFile::exists("PWNED"));
    // An editor that cannot start says so in the message panel.
    Settings->PreferredEditor->SetAsString(dir.filePath("gone").toStdString());
    Settings->PreferredEditor->Exists = true;
    W->acOpenInPreferredEditor->Execute();
    QCOMPARE(W->StatusMessage(), "Cannot start " + dir.filePath("gone"));
  }

  void EditorWindowMarksItsFields() {
    const auto undo = qScopeGuard([this] { ResetEditor(); });
    W->acSetPreferredEditor->Execute();
    TfmPreferredEditor* ed = App.PreferredEditorDialog();
    QVERIFY(ed);
    QCOMPARE(ed->lblExample->text(), QStringLiteral(" \"/var/www/site/index.php\""));  // a path of this system
    QVERIFY(ActivateWindow(ed));
    ed->edtArguments->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), ed->edtArguments);
    ed->edtArguments->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), "--line ");
    ClickAt(ed->btnLineNumberToken);
    QTest::keyClicks(QApplication::focusWidget(), " <F>");
    QCOMPARE(QString::fromStdString(Settings->EditorArgs->Value), QStringLiteral("--line <n> <F>"));
    QCOMPARE(ed->edtArguments->palette().color(QPalette::Base), QColor(192, 192, 192));  // "<F>" is not "<f>"
    ClickAt(ed->btnFileNameToken);
    QVERIFY(ed->edtArguments->palette().color(QPalette::Base) != QColor(192, 192, 192));
    ed->edtExecutable->setText("/no/such/editor");
    QCOMPARE(ed->edtExecutable->palette().color(QPalette::Text), QColor(255, 0, 0));
    SaveShot(ed, "preferred-editor");
    QCOMPARE(ed->lblExample->text(), QStringLiteral("editor --line 123 \"/var/www/site/index.php\"\"/var/www/site/index.php\""));
    W->acOpenInPreferredEditor->Update();
    QVERIFY(!W->acOpenInPreferredEditor->isEnabled());
    ed->edtExecutable->setText("/bin/sh");
    QVERIFY(ed->edtExecutable->palette().color(QPalette::Text) != QColor(255, 0, 0));
    ed->close();
  }

  void OpenAndLocateGoToTheDesktopAndReportFailures() {
    TRecordingShell shell;
    App.SetShell(&shell);
    ClickRow(1);
    W->acOpen->Execute();
    W->acExplore->Execute();
    const auto url = [](const QString& path) { return QUrl::fromLocalFile(path).toString(); };
    QCOMPARE(shell.Calls, (QStringList{"open " + url(Tree.A), "show " + url(Tree.A), "open " + url(Tree.Dir.path())}));
    shell.Works = false;
    W->acOpen->Execute();
    QCOMPARE(W->StatusMessage(), "No application opens " + Tree.A);
    W->acExplore->Execute();
    QCOMPARE(W->StatusMessage(), "No file manager shows " + Tree.A);
  }
};

QTEST_MAIN(TOutputTests)
#include "OutputTests.moc"

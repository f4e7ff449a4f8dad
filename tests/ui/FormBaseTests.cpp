// The form base and the configuration adapters: placement and window state kept in the real
// settings file, binding to the owner's list, the single-instance dialogs, NewWindow, and the
// component, font and line-list adapters.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QToolBar>
#include <cstring>

#include "base/Errors.h"
#include "config/SettingsErrors.h"
#include "ui/controls/DirComboBox.h"
#include "ui/FormBase.h"
#include "ui/QtConfigAdapters.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/UiTestUtil.h"

using namespace trawlex;
using namespace trawlex::uitest;

namespace {

QRect ScreenArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }

std::array<uint8_t, 16> StoredBounds(IConfig& config, const std::string& section, const std::string& name) {
  std::array<uint8_t, 16> b{};
  config.ReadBytes(section, name, b.data(), 16, nullptr);
  return b;
}

// A window that owns its list, as the search window does.
TfmGeneric* OwnerWindow(const TTestStore& store, TApp& app) {
  auto* w = TfmGeneric::CreateUnbound<TfmGeneric>(nullptr, &app);
  w->setObjectName(QStringLiteral("fmSearch"));
  w->SetOwnsCfgList(true);
  w->SetCfgList(store.NewList("fmSearch").release());
  return w;
}

}  // namespace

class FormBaseTests : public QObject {
  Q_OBJECT

 public:
  // The application every window of these tests belongs to.
  TApp App;

 private slots:
  void cleanup() {
    DeleteAllWindows(App);
  }

  void FirstOpenIsCentredAndStoresNothingUntilClosed() {
    TTestStore store;
    QPointer<TfmGeneric> w = OwnerWindow(store, App);
    QCOMPARE(w->size(), QSize(442, 308));
    QCOMPARE(w->windowTitle(), QStringLiteral("fmGeneric"));
    w->show();
    QVERIFY(qAbs(w->geometry().center().x() - ScreenArea().center().x()) <= 1);
    QVERIFY(qAbs(w->geometry().center().y() - ScreenArea().center().y()) <= 1);
    QVERIFY(!store.Open()->ValueExists("fmSearch", "fmSearch.bounds"));
    QVERIFY(!store.Open()->ValueExists("fmSearch", "fmSearch.WindowState"));
    w->close();
    FlushDeletes();
    QVERIFY(w.isNull());  // closing destroys
    QVERIFY(store.Open()->ValueExists("fmSearch", "fmSearch.bounds"));
    QCOMPARE(store.Open()->ReadInteger("fmSearch", "fmSearch.WindowState", -1), 0);
  }

  void StoredBoundsWinOverCentringInTheNextWindow() {
    TTestStore store;
    {
      TfmGeneric* w = OwnerWindow(store, App);
      w->show();
      w->setGeometry(37, 41, 500, 300);
      w->close();
      FlushDeletes();
    }
    const auto b = StoredBounds(*store.Open(), "fmSearch", "fmSearch.bounds");
    QCOMPARE(DecodeBounds(b.data()), (TCfgRect{37, 41, 537, 341}));
    TfmGeneric* again = OwnerWindow(store, App);
    again->show();
    QCOMPARE(again->geometry(), QRect(37, 41, 500, 300));
  }

  void DialogKeepsTopLeftOnlyAndSizeStaysDesigned() {
    TTestStore store;
    TfmGeneric* owner = OwnerWindow(store, App);
    auto* d = TfmGeneric::Create<TfmNMDialog>(owner);
    QCOMPARE(d->CfgList(), owner->CfgList());
    d->show();
    d->setGeometry(20, 30, 400, 200);
    d->close();
    FlushDeletes();
    IConfigPtr config = store.Open();
    QVERIFY(config->ValueExists("fmSearch", "fmNMDialog.TopLeft"));
    QVERIFY(!config->ValueExists("fmSearch", "fmNMDialog.bounds"));
    auto* again = TfmGeneric::Create<TfmNMDialog>(owner);
    again->show();
    QCOMPARE(again->geometry().topLeft(), QPoint(20, 30));
    QCOMPARE(again->size(), QSize(281, 151));
  }

  void MaximisedDialogReopensMaximisedWithLastNormalTopLeft() {
    TTestStore store;
    TfmGeneric* owner = OwnerWindow(store, App);
    auto* d = TfmGeneric::Create<TfmNMDialog>(owner);
    d->show();
    d->setGeometry(15, 25, 281, 151);
    d->close();
    FlushDeletes();
    d = TfmGeneric::Create<TfmNMDialog>(owner);
    d->show();
    d->showMaximized();
    QVERIFY(d->isMaximized());
    d->close();
    FlushDeletes();
    IConfigPtr config = store.Open();
    QCOMPARE(config->ReadInteger("fmSearch", "fmNMDialog.WindowState", -1), 2);
    uint8_t topLeft[8];
    config->ReadBytes("fmSearch", "fmNMDialog.TopLeft", topLeft, 8, nullptr);
    int32_t left, top;
    std::memcpy(&left, topLeft, 4);
    std::memcpy(&top, topLeft + 4, 4);
    QCOMPARE(QPoint(left, top), QPoint(15, 25));
    d = TfmGeneric::Create<TfmNMDialog>(owner);
    d->show();
    QVERIFY(d->isMaximized());
  }

  void OwnerOutsideTheFormBaseLeavesTheWindowUnbound() {
    TTestStore store;
    QWidget plain;
    auto* w = TfmGeneric::Create<TfmGeneric>(&plain);
    QVERIFY(w->CfgList() == nullptr);
    w->BindOwnerCfgList();
    QVERIFY(w->CfgList() == nullptr);
    delete w;
  }

  void DestroyingTheOwnerSavesItsDialogsIntoItsListFirst() {
    TTestStore store;
    TfmGeneric* owner = OwnerWindow(store, App);
    auto* d = TfmGeneric::Create<TfmNMDialog>(owner);
    d->setObjectName(QStringLiteral("dlgChild"));  // only the name given at binding counts
    d->show();
    delete owner;  // the dialog goes with it and saves into the owner's list before it is freed
    QVERIFY(App.Windows().empty());
    QVERIFY(store.Open()->ValueExists("fmSearch", "fmNMDialog.TopLeft"));
    QVERIFY(store.Open()->ValueExists("fmSearch", "fmSearch.bounds"));
  }

  void StoredValueOfTheWrongTypeIsReportedAndTheWindowStillOpens() {
    TTestStore store;
    TfmGeneric* owner = OwnerWindow(store, App);
    store.Open()->WriteString("fmSearch", "fmNMDialog.TopLeft", "not a position");
    std::vector<std::string> reports;
    SetSettingsErrorHandler([&](const std::string& m) { reports.push_back(m); });
    auto* d = TfmGeneric::Create<TfmNMDialog>(owner);
    SetSettingsErrorHandler(nullptr);
    QVERIFY(d != nullptr);
    QCOMPARE(reports, std::vector<std::string>{"Invalid data type for 'fmNMDialog.TopLeft'"});
    QCOMPARE(store.Open()->ReadString("fmSearch", "fmNMDialog.TopLeft", ""), std::string("not a position"));
    delete d;  // closing stores the placement it has, with its own type
    QVERIFY(store.Open()->ValueExists("fmSearch", "fmNMDialog.TopLeft"));
    QVERIFY_THROWS_EXCEPTION(ETrawlexError, store.Open()->ReadString("fmSearch", "fmNMDialog.TopLeft", ""));
  }

  void BindingTwiceIsAProgrammingError() {
    TTestStore store;
    TfmGeneric* owner = OwnerWindow(store, App);
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, owner->SetCfgList(owner->CfgList()));
  }

  void ShowNMDialogKeepsOneDialogPerReference() {
    TTestStore store, otherStore;
    TfmGeneric* owner = OwnerWindow(store, App);
    owner->show();
    // Another window is the active one when the owner asks for its dialog (or none is).
    TfmGeneric* other = OwnerWindow(otherStore, App);
    QVERIFY(ActivateWindow(other));
    TfmNMDialog* first = nullptr;
    TfmNMDialog* second = nullptr;
    QVERIFY(ShowNMDialog(owner, first));
    QVERIFY(first != nullptr);
    QCOMPARE(first->parentWidget(), owner);
    QCOMPARE(first->CfgList(), owner->CfgList());  // bound to the list of the window that asked
    TfmNMDialog* const shown = first;
    QVERIFY(!ShowNMDialog(owner, first));
    QCOMPARE(first, shown);
    QVERIFY(ShowNMDialog(owner, second));
    QVERIFY(second != first);
    first->close();
    FlushDeletes();
    QVERIFY(first == nullptr);  // destroying the dialog cleared its reference
    QVERIFY(second != nullptr);
    QVERIFY(ShowNMDialog(owner, first));
    QVERIFY(first != nullptr);
  }

  void SetSelfRefWithAnotherVariableIsRefused() {
    auto* d = TfmGeneric::CreateUnbound<TfmNMDialog>(nullptr, &App);
    TfmNMDialog* other = nullptr;
    try {
      d->SetSelfRef(&other);
      QFAIL("SetSelfRef accepted a variable that does not hold the dialog");
    } catch (const EAssertionFailed& e) {
      QVERIFY2(QString::fromUtf8(e.what()).startsWith(QStringLiteral("Invalid ref in TfmNMDialog.SetSelfRef (")),
               e.what());
    }
    delete d;
  }

  void NewWindowMovesAwayOnlyFromAWindowAtTheSamePlace() {
    TfmGeneric* first = TfmGeneric::Create<TfmGeneric>(nullptr, &App);
    first->show();
    const QPoint centred = first->geometry().topLeft();
    TfmGeneric* second = first->NewWindow();
    QVERIFY(second->isVisible());
    QVERIFY(second->geometry().topLeft() != centred);
    const QRect screen = ScreenArea();
    QVERIFY(second->geometry().left() >= 0 && second->geometry().left() < qRound(0.9 * screen.width()));
    QVERIFY(second->geometry().top() >= 0 && second->geometry().top() < qRound(0.9 * screen.height()));
    first->move(centred + QPoint(13, 17));
    second->close();
    FlushDeletes();
    TfmGeneric* third = first->NewWindow();
    QCOMPARE(third->geometry().topLeft(), centred);  // nobody stands there now
  }

  void WindowShowsWithItsTitleBarOnTheScreen_data() {
    QTest::addColumn<QRect>("stored");  // relative to the screen area's top-left
    QTest::addColumn<int>("placed");    // 0 where stored, 1 moved wholly onto the area, 2 at its top-left
    const QRect a = ScreenArea();
    QTest::newRow("on-screen") << QRect(37, 41, 500, 300) << 0;
    QTest::newRow("half-off-right") << QRect(a.width() - 250, 40, 500, 300) << 1;
    QTest::newRow("off-left-and-above") << QRect(-300, -200, 500, 300) << 1;
    QTest::newRow("below-the-bottom") << QRect(60, a.height() - 10, 500, 300) << 1;
    QTest::newRow("far-off-every-screen") << QRect(a.width() + 5000, 20, 500, 300) << 1;
    QTest::newRow("larger-than-the-screen") << QRect(50, 50, a.width() + 200, a.height() + 100) << 2;
  }
  void WindowShowsWithItsTitleBarOnTheScreen() {
    QFETCH(QRect, stored);
    QFETCH(int, placed);
    const QRect area = ScreenArea();
    TTestStore store;
    {
      TfmGeneric* w = OwnerWindow(store, App);
      w->setGeometry(stored.translated(area.topLeft()));
      w->close();  // never shown: stored as it was set, as another screen layout left it
      FlushDeletes();
    }
    TfmGeneric* w = OwnerWindow(store, App);
    w->show();
    QCOMPARE(w->size(), stored.size());
    if (placed == 0) QCOMPARE(w->geometry(), stored.translated(area.topLeft()));
    if (placed == 1) QVERIFY(area.contains(w->frameGeometry()));
    if (placed == 2) QCOMPARE(w->frameGeometry().topLeft(), area.topLeft());
    const QRect shown = w->geometry();
    w->close();
    FlushDeletes();
    // The place it was shown at is the place stored.
    const auto b = StoredBounds(*store.Open(), "fmSearch", "fmSearch.bounds");
    QCOMPARE(DecodeBounds(b.data()), (TCfgRect{shown.left(), shown.top(), shown.right() + 1, shown.bottom() + 1}));
  }

  void NewWindowsAtRandomPlacesStayOnTheScreen() {
    TfmGeneric* first = TfmGeneric::Create<TfmGeneric>(nullptr, &App);
    first->resize(ScreenArea().width() / 2, ScreenArea().height() / 2);
    first->show();
    for (int i = 0; i < 25; ++i) {
      TfmGeneric* w = first->NewWindow();  // each new one starts centred, where the first stands
      QVERIFY2(ScreenArea().contains(w->frameGeometry()), qPrintable(QStringLiteral("%1,%2").arg(w->x()).arg(w->y())));
    }
  }

  // ---- Adapters ---------------------------------------------------------------------------

  void PropertiesRoundTripThroughTheStore_data() {
    QTest::addColumn<QString>("element");
    QTest::newRow("check box") << "chkSubdirs.Checked";
    QTest::newRow("action") << "acHideResultLines.Checked";
    QTest::newRow("tool bar captions") << "tbrMainButtons.ShowCaptions";
    QTest::newRow("panel width") << "pnlWildCards.Width";
    QTest::newRow("combo text") << "cbxTarget.Text";
    QTest::newRow("directory") << "cbxDirectory.Directory";
    QTest::newRow("save dialog file") << "dlgSaveResults.FileName";
  }
  void PropertiesRoundTripThroughTheStore() {
    QFETCH(QString, element);
    TTestStore store;
    QWidget host;
    auto* check = new QCheckBox(QStringLiteral("Subdirs"), &host);
    check->setObjectName(QStringLiteral("chkSubdirs"));
    auto* action = new QAction(&host);
    action->setObjectName(QStringLiteral("acHideResultLines"));
    action->setCheckable(true);
    auto* toolbar = new QToolBar(&host);
    toolbar->setObjectName(QStringLiteral("tbrMainButtons"));
    auto* panel = new QWidget(&host);
    panel->setObjectName(QStringLiteral("pnlWildCards"));
    panel->resize(85, 40);
    auto* target = new QComboBox(&host);
    target->setEditable(true);
    target->setObjectName(QStringLiteral("cbxTarget"));
    auto* dir = new TDirComboBox(&host);
    dir->setObjectName(QStringLiteral("cbxDirectory"));
    auto* save = new TSaveDialog(&host, QStringLiteral("dlgSaveResults"));

    const QString component = element.section(QLatin1Char('.'), 0, 0);
    const QString prop = element.section(QLatin1Char('.'), 1);
    QObject* object = host.findChild<QObject*>(component);
    QVERIFY(object != nullptr);
    const std::string tempDir = store.Dir() + "/";
    auto change = [&] {
      check->setChecked(true);
      action->setChecked(true);
      toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
      panel->resize(123, 40);
      target->setEditText(QStringLiteral("needle ü"));
      dir->SetDirectory(QString::fromStdString(tempDir));
      save->SetFileName(QStringLiteral("/tmp/out.txt"));
    };
    std::string saved;
    {
      TBaseCfgList list(store.Open(), "fmSearch");
      TPropCfgElem& e = list.AddProp(TQtComponent::For(object), prop.toStdString());
      QCOMPARE(QString::fromStdString(e.Name()), element);
      change();
      saved = e.GetAsString();
      list.SaveAll();
    }
    // A fresh host with design values takes the stored value back.
    QWidget host2;
    QObject* fresh = nullptr;
    if (component == QLatin1String("chkSubdirs")) fresh = new QCheckBox(&host2);
    if (component == QLatin1String("acHideResultLines")) {
      auto* a = new QAction(&host2);
      a->setCheckable(true);
      fresh = a;
    }
    if (component == QLatin1String("tbrMainButtons")) fresh = new QToolBar(&host2);
    if (component == QLatin1String("pnlWildCards")) fresh = new QWidget(&host2);
    if (component == QLatin1String("cbxTarget")) {
      auto* c = new QComboBox(&host2);
      c->setEditable(true);
      fresh = c;
    }
    if (component == QLatin1String("cbxDirectory")) fresh = new TDirComboBox(&host2);
    if (component == QLatin1String("dlgSaveResults")) fresh = new TSaveDialog(&host2);
    fresh->setObjectName(component);
    TBaseCfgList list(store.Open(), "fmSearch");
    TPropCfgElem& e = list.AddProp(TQtComponent::For(fresh), prop.toStdString());
    QVERIFY(e.GetAsString() != saved);
    list.LoadAll();
    QCOMPARE(e.GetAsString(), saved);
    if (component == QLatin1String("cbxDirectory")) {
      QCOMPARE(saved, tempDir.substr(0, tempDir.size() - 1));  // without the trailing delimiter
      QVERIFY(static_cast<TDirComboBox*>(fresh)->Exists());
    }
  }

  void UnknownPropertyIsAProgrammingErrorAndCreatesNothing() {
    TTestStore store;
    QCheckBox check;
    check.setObjectName(QStringLiteral("chkX"));
    TBaseCfgList list(store.Open(), "s");
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, list.AddProp(TQtComponent::For(&check), "Directory"));
    QCOMPARE(list.Count(), 0);
  }

  void FontRecordRoundTrip_data() {
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("pitch");
    QTest::addColumn<QString>("face");
    QTest::newRow("regular") << -11 << 0 << 0 << "DejaVu Sans";
    QTest::newRow("bold italic") << -14 << int(fsBold | fsItalic) << 1 << "DejaVu Serif";
    QTest::newRow("underline strike fixed") << -9 << int(fsUnderline | fsStrikeOut) << 2 << "DejaVu Sans Mono";
  }
  void FontRecordRoundTrip() {
    QFETCH(int, height);
    QFETCH(int, style);
    QFETCH(int, pitch);
    QFETCH(QString, face);
    TTestStore store;
    QFont font;
    TQtFont adapter(font);
    adapter.SetHeight(height);
    adapter.SetStyle(static_cast<uint8_t>(style));
    adapter.SetPitch(static_cast<TFontPitch>(pitch));
    adapter.SetFaceName(face.toStdString());
    {
      TBaseCfgList list(store.Open(), "s");
      list.CreateItem<TFontCfgElem>("lstResults.Font", adapter);
      list.SaveAll();
    }
    QFont loaded;
    int changes = 0;
    TQtFont back(loaded, [&] { ++changes; });
    TBaseCfgList list(store.Open(), "s");
    list.CreateItem<TFontCfgElem>("lstResults.Font", back);
    list.LoadAll();
    QVERIFY(changes > 0);
    QCOMPARE(loaded.pixelSize(), -height);
    QCOMPARE(int(back.Style()), style);
    QCOMPARE(int(back.Pitch()), pitch);
    QCOMPARE(loaded.family(), face);
  }

  void PositiveFontHeightIsTheCellHeight() {
    QFont font(QStringLiteral("DejaVu Sans"));
    TQtFont adapter(font);
    adapter.SetHeight(20);
    QVERIFY(QFontMetrics(font).height() <= 20);
    QVERIFY(font.pixelSize() < 20);
    QVERIFY(adapter.Height() < 0);
  }

  void ComboItemsKeepTheEditText() {
    QComboBox combo;
    combo.setEditable(true);
    combo.setEditText(QStringLiteral("typed"));
    TComboItems items(&combo);
    items.SetLines({"one", "two"});
    QCOMPARE(combo.currentText(), QStringLiteral("typed"));
    QCOMPARE(items.GetLines(), (TStrings{"one", "two"}));
  }

  void PlainTextLinesKeepEmptyLines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("one") << "*.*" << 1;
    QTest::newRow("break at the end begins no line") << "*.c\n*.h\n" << 2;
    QTest::newRow("trailing empty line") << "*.c\n*.h\n\n" << 3;
  }
  void PlainTextLinesKeepEmptyLines() {
    QFETCH(QString, text);
    QFETCH(int, count);
    QPlainTextEdit edit;
    edit.setPlainText(text);
    TPlainTextLines lines(&edit);
    const TStrings got = lines.GetLines();
    QCOMPARE(int(got.size()), count);
    lines.SetLines(got);
    QCOMPARE(lines.GetLines(), got);
  }
};

QTEST_MAIN(FormBaseTests)
#include "FormBaseTests.moc"

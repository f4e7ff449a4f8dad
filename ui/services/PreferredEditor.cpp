#include "ui/services/PreferredEditor.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QToolButton>

#include "ui/Application.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

const QString FileToken = QStringLiteral("<f>");
const QString LineToken = QStringLiteral("<n>");

// Replaces the tokens of `text` from the left; replaced text is never looked at again.
QString ReplaceTokens(const QString& text, const QString& lineText, const QString& pathText) {
  QString out;
  out.reserve(text.size() + pathText.size());
  for (qsizetype i = 0; i < text.size();) {
    if (text.mid(i, 3).compare(LineToken, Qt::CaseInsensitive) == 0) {
      out += lineText;
      i += 3;
    } else if (text.mid(i, 3).compare(FileToken, Qt::CaseInsensitive) == 0) {
      out += pathText;
      i += 3;
    } else {
      out += text[i++];
    }
  }
  return out;
}

}  // namespace

QString ExpandEditorArgs(const QString& argsTemplate, int line, const QString& path) {
  return ReplaceTokens(argsTemplate, QString::number(line), QLatin1Char('"') + path + QLatin1Char('"'));
}

QStringList EditorArguments(const QString& argsTemplate, int line, const QString& path) {
  QStringList args = QProcess::splitCommand(argsTemplate);
  for (QString& a : args) a = ReplaceTokens(a, QString::number(line), path);
  return args;
}

QString TfmPreferredEditor::ExampleText(const QString& executable, const QString& argsTemplate) {
  // The example file is a path of this system.
#ifdef Q_OS_WIN
  const QString example = QStringLiteral("c:\\site\\index.php");
#else
  const QString example = QStringLiteral("/var/www/site/index.php");
#endif
  return QFileInfo(executable).fileName() + QLatin1Char(' ') + ExpandEditorArgs(argsTemplate, 123, example);
}

TfmPreferredEditor::TfmPreferredEditor(QWidget* owner) : TfmNMDialog(owner) {
  setObjectName(QStringLiteral("fmPreferredEditor"));
  setWindowTitle(QStringLiteral("Preferred Editor"));
  resize(384, 219);

  auto* central = new QWidget(this);
  CreateEditorFields(central);
  CreateTokenButtons(central);
  CreateExample(central);
  btnClose = new QPushButton(QStringLiteral("Close"), central);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setShortcut(Qt::Key_Escape);  // the cancel button
  LayOutControls(central);
  setCentralWidget(central);
  ConnectControls();
  ShowSettings();
  edtArguments->setFocus();
}

TAppSettings* TfmPreferredEditor::Settings() const { return App() ? App()->Settings() : nullptr; }

// The editor's path, behind the button that finds it, and the argument template.
void TfmPreferredEditor::CreateEditorFields(QWidget* central) {
  btnFindExecutable = new QToolButton(central);
  btnFindExecutable->setObjectName(QStringLiteral("btnFindExecutable"));
  btnFindExecutable->setText(QStringLiteral("Executable"));
  edtExecutable = new QLineEdit(central);
  edtExecutable->setObjectName(QStringLiteral("edtExecutable"));
  edtExecutable->setToolTip(QStringLiteral("Red font means file not found"));
  Label2 = new QLabel(QStringLiteral("Arguments"), central);
  Label2->setObjectName(QStringLiteral("Label2"));
  edtArguments = new QLineEdit(central);
  edtArguments->setObjectName(QStringLiteral("edtArguments"));
  Label2->setBuddy(edtArguments);
}

// Flat buttons that write their token into the template.
void TfmPreferredEditor::CreateTokenButtons(QWidget* central) {
  const auto token = [central](const char* name, const QString& text) {
    auto* b = new QToolButton(central);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text);
    b->setAutoRaise(true);  // flat
    b->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
    b->setFocusPolicy(Qt::NoFocus);  // the caret stays in the argument field
    return b;
  };
  Label1 = new QLabel(QStringLiteral("File name token:"), central);
  Label1->setObjectName(QStringLiteral("Label1"));
  btnFileNameToken = token("btnFileNameToken", FileToken);
  Label3 = new QLabel(QStringLiteral("Line number token:"), central);
  Label3->setObjectName(QStringLiteral("Label3"));
  btnLineNumberToken = token("btnLineNumberToken", LineToken);
}

void TfmPreferredEditor::CreateExample(QWidget* central) {
  Label4 = new QLabel(QStringLiteral("Example:"), central);
  Label4->setObjectName(QStringLiteral("Label4"));
  lblExample = new QLabel(central);
  lblExample->setObjectName(QStringLiteral("lblExample"));
  lblExample->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  lblExample->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
  lblExample->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void TfmPreferredEditor::LayOutControls(QWidget* central) {
  auto* grid = new QGridLayout(central);
  grid->addWidget(btnFindExecutable, 0, 0);
  grid->addWidget(edtExecutable, 0, 1, 1, 3);
  grid->addWidget(Label2, 1, 0);
  grid->addWidget(edtArguments, 1, 1, 1, 3);
  grid->addWidget(Label1, 2, 0);
  grid->addWidget(btnFileNameToken, 2, 1, Qt::AlignLeft);
  grid->addWidget(Label3, 2, 2, Qt::AlignRight);
  grid->addWidget(btnLineNumberToken, 2, 3, Qt::AlignLeft);
  grid->addWidget(Label4, 3, 0);
  grid->addWidget(lblExample, 3, 1, 1, 3);
  grid->addWidget(btnClose, 4, 3, Qt::AlignRight);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(4, 1);
}

void TfmPreferredEditor::ConnectControls() {
  connect(edtExecutable, &QLineEdit::textChanged, this, [this] { RunHandler([this] { edtExecutableChange(); }); });
  connect(edtArguments, &QLineEdit::textChanged, this, [this] { RunHandler([this] { edtArgumentsChange(); }); });
  connect(btnFileNameToken, &QToolButton::clicked, this, [this] { RunHandler([this] { btnTokenClick(btnFileNameToken); }); });
  connect(btnLineNumberToken, &QToolButton::clicked, this,
          [this] { RunHandler([this] { btnTokenClick(btnLineNumberToken); }); });
  connect(btnFindExecutable, &QToolButton::clicked, this, [this] { RunHandler([this] { btnFindExecutableClick(); }); });
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
}

// The path goes in quietly: its colour shows only once it is edited. The template goes in
// with its change handler, which fills the example and the background.
void TfmPreferredEditor::ShowSettings() {
  TAppSettings* settings = Settings();
  SetEditTextQuietly(edtExecutable, settings ? QString::fromStdString(settings->PreferredEditor->Value) : QString());
  edtArguments->setText(settings ? QString::fromStdString(settings->EditorArgs->Value) : FileToken);
  edtArgumentsChange();  // also when the template is empty and so did not change
}

void TfmPreferredEditor::edtExecutableChange() {
  TAppSettings* settings = Settings();
  bool exists = false;
  if (settings) {
    settings->PreferredEditor->SetAsString(edtExecutable->text().toStdString());
    exists = settings->PreferredEditor->Exists;
  } else {
    exists = QFileInfo(edtExecutable->text()).isFile();
  }
  QPalette pal = edtExecutable->palette();
  pal.setColor(QPalette::Text, exists ? palette().color(QPalette::WindowText) : QColor(255, 0, 0));
  edtExecutable->setPalette(pal);
  ShowExample();
}

void TfmPreferredEditor::edtArgumentsChange() {
  if (TAppSettings* settings = Settings()) settings->EditorArgs->SetAsString(edtArguments->text().toStdString());
  QPalette pal = edtArguments->palette();
  // Only the token as the buttons write it counts here: a template without it starts the
  // editor without the file, which is allowed but worth a look.
  const bool hasFile = edtArguments->text().contains(FileToken, Qt::CaseSensitive);
  pal.setColor(QPalette::Base, hasFile ? palette().color(QPalette::Base) : QColor(192, 192, 192));
  edtArguments->setPalette(pal);
  ShowExample();
}

void TfmPreferredEditor::ShowExample() { lblExample->setText(ExampleText(edtExecutable->text(), edtArguments->text())); }

void TfmPreferredEditor::btnTokenClick(QToolButton* token) {
  edtArguments->insert(token->text());  // replaces the selection; the caret follows the token
  edtArguments->setFocus();
}

void TfmPreferredEditor::btnFindExecutableClick() {
  QFileDialog dialog(this, QStringLiteral("Choose preferred editor"));
  dialog.setObjectName(QStringLiteral("dlgExecutable"));
  UseNameOnlyIcons(dialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  // Programs here are files with the execute permission, whatever their names.
  dialog.setNameFilters({QStringLiteral("Applications (*)"), QStringLiteral("All files (*)")});
  dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
  // The editor's folder, never one in /proc, /sys or /dev, where listing may block.
  const QFileInfo current(edtExecutable->text());
  const QString folder = current.isAbsolute() ? current.absolutePath() : QString();
  const bool usable = !folder.isEmpty() && QFileInfo(folder).isDir() && !IsPseudoFileSystemFolder(folder);
  dialog.setDirectory(usable ? folder : QStringLiteral("/usr/bin"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  edtExecutable->setText(dialog.selectedFiles().first());
}

}  // namespace trawlex

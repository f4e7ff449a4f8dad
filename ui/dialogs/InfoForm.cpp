#include "ui/dialogs/InfoForm.h"

#include <QTimer>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/CommandLine.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

TfmInfo::TfmInfo(QWidget* owner) : TfmNMDialog(owner) {
  setObjectName(QStringLiteral("fmInfo"));
  setWindowTitle(QStringLiteral("Info"));
  resize(110, 80);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  lblTitle = new QLabel(central);
  lblTitle->setObjectName(QStringLiteral("lblTitle"));
  lblTitle->setAlignment(Qt::AlignCenter);
  lblTitle->setFixedHeight(22);
  QFont titleFont(QStringLiteral("Tahoma"));
  titleFont.setBold(true);
  titleFont.setUnderline(true);
  lblTitle->setFont(titleFont);

  memInfo = new QPlainTextEdit(central);
  memInfo->setObjectName(QStringLiteral("memInfo"));
  memInfo->setReadOnly(true);
  memInfo->setFrameShape(QFrame::NoFrame);
  memInfo->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  memInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memInfo->setBackgroundRole(QPalette::Button);
  memInfo->viewport()->setBackgroundRole(QPalette::Button);
  memInfo->setMinimumSize(0, 0);
  connect(memInfo, &QPlainTextEdit::textChanged, this, [this] { memInfoChange(); });

  Panel1 = new QWidget(central);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  auto* panelLayout = new QHBoxLayout(Panel1);
  panelLayout->setContentsMargins(6, 6, 6, 6);
  btnClose = new QPushButton(QStringLiteral("Close"), Panel1);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setDefault(true);
  panelLayout->addStretch();
  panelLayout->addWidget(btnClose);
  panelLayout->addStretch();
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);

  layout->addWidget(lblTitle);
  layout->addWidget(memInfo, 1);
  layout->addWidget(Panel1);
  setCentralWidget(central);
  btnClose->setFocus();
}

void TfmInfo::SetTitle(const QString& title) {
  layout()->activate();
  WidenFormForText(lblTitle, title, 8);
  lblTitle->setText(title);
}

void TfmInfo::AddInfoLine(const QString& line) {
  layout()->activate();
  WidenFormForText(memInfo, line, 24);
  AppendLine(line);
}

void TfmInfo::AppendLine(const QString& line) { memInfo->appendPlainText(line); }

namespace {
// Whether `font` gives every character the same width, by what it draws: not every
// monospaced font says so of itself, and a family asked for by name may be replaced by
// another of the system's choosing.
bool DrawsFixedPitch(const QFont& font) {
  const QFontMetrics fm(font);
  const int narrow = fm.horizontalAdvance(QLatin1Char('i'));
  return narrow > 0 && narrow == fm.horizontalAdvance(QLatin1Char('W'));
}
}  // namespace

void TfmInfo::SetFixedFont(const QString& family) {
  // What the system gives for `family` (the family itself or its stand-in, such as a
  // metric twin), when that is fixed-pitch; else the system's fixed font; else whatever
  // it gives for a monospaced style.
  QFont font(family);
  font.setStyleHint(QFont::TypeWriter);
  if (!DrawsFixedPitch(font)) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (!DrawsFixedPitch(font)) {
    font = QFont(QStringLiteral("monospace"));
    font.setStyleHint(QFont::Monospace);
  }
  memInfo->setFont(font);
}

void TfmInfo::memInfoChange() {
  layout()->activate();
  const int lineHeight = QFontMetrics(memInfo->font()).lineSpacing();
  const int lines = memInfo->document()->blockCount();
  resize(width(), height() + lines * lineHeight - memInfo->height() + 20);
}

void TfmInfo::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      close();
      return;
    default:
      TfmNMDialog::keyPressEvent(event);
  }
}

void ShowUsageWindow(QWidget* owner, TfmInfo*& ref, const std::vector<std::string>& usageLines) {
  if (!ShowNMDialog(owner, ref)) return;
  ref->SetFixedFont(QStringLiteral("Courier New"));
  ref->setWindowTitle(QStringLiteral("Usage"));
  ref->SetTitle(QStringLiteral("Command line options for Trawlex"));
  for (const std::string& line : usageLines) ref->AddInfoLine(QString::fromStdString(line));
  ref->AppendLine(QString());
  ref->AppendLine(QStringLiteral("To separate patterns, use \"|\":  -p *.html|*.php"));
  ref->AppendLine(QStringLiteral("For boolean values, use 0 and 1:  -s 1"));
  ref->AppendLine(QStringLiteral("To skip folders, name them or their paths:  -f node_modules|build*|src/gen"));
  // The options of a run without a window, replacing and undoing, as --help lists them.
  ref->AppendLine(QString());
  for (const std::string& line : ProgramOptionLines()) ref->AddInfoLine(QString::fromStdString(line));
  // Widened for its lines after it was placed: back onto the screen, once its layout has
  // taken the new lines in.
  QTimer::singleShot(0, ref, [window = ref] { window->KeepOnScreen(); });
}

}  // namespace trawlex

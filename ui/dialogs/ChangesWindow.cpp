#include "ui/dialogs/ChangesWindow.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSyntaxHighlighter>
#include <QVBoxLayout>
#include <stdexcept>

#include "platform/DurableFile.h"
#include "ui/lists/PainterSurface.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

// Removed lines red, added lines green, hunk headers blue, file headers bold.
class TDiffHighlighter : public QSyntaxHighlighter {
 public:
  using QSyntaxHighlighter::QSyntaxHighlighter;

 protected:
  void highlightBlock(const QString& text) override {
    QTextCharFormat format;
    if (text.startsWith(QLatin1String("--- ")) || text.startsWith(QLatin1String("+++ "))) {
      format.setFontWeight(QFont::Bold);
    } else if (text.startsWith(QLatin1Char('-'))) {
      format.setForeground(QColor(170, 0, 0));
      format.setBackground(QColor(255, 235, 235));
    } else if (text.startsWith(QLatin1Char('+'))) {
      format.setForeground(QColor(0, 120, 0));
      format.setBackground(QColor(230, 250, 230));
    } else if (text.startsWith(QLatin1String("@@"))) {
      format.setForeground(QColor(0, 0, 200));
    } else if (text.startsWith(QLatin1String("Not shown: "))) {
      format.setForeground(QColor(150, 80, 0));
      format.setFontItalic(true);
    } else {
      return;
    }
    setFormat(0, static_cast<int>(text.size()), format);
  }
};

}  // namespace

QString ChangesDisplayText(const std::string& bytes) {
  std::string shown;
  shown.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r' && !(i + 1 < bytes.size() && bytes[i + 1] == '\n')) {
      shown += "\xE2\x90\x8D";  // SYMBOL FOR CARRIAGE RETURN
    } else if (c == '\0') {
      shown += "\xE2\x90\x80";  // SYMBOL FOR NULL
    } else {
      shown += c;
    }
  }
  return DisplayText(shown);
}

TfmChanges::TfmChanges(QWidget* owner) : TfmGeneric(owner) {
  setObjectName(QStringLiteral("fmChanges"));
  setWindowTitle(QStringLiteral("Changes"));
  resize(640, 480);
  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* layout = new QVBoxLayout(central);
  memChanges = new QPlainTextEdit(central);
  memChanges->setObjectName(QStringLiteral("memChanges"));
  memChanges->setReadOnly(true);
  memChanges->setLineWrapMode(QPlainTextEdit::NoWrap);
  memChanges->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  new TDiffHighlighter(memChanges->document());
  layout->addWidget(memChanges);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  btnSave = new QPushButton(QStringLiteral("Save as patch..."), central);
  btnSave->setObjectName(QStringLiteral("btnSave"));
  btnClose = new QPushButton(QStringLiteral("Close"), central);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  buttons->addWidget(btnSave);
  buttons->addWidget(btnClose);
  layout->addLayout(buttons);
  connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
  auto* escape = new QAction(this);
  escape->setShortcut(Qt::Key_Escape);
  connect(escape, &QAction::triggered, this, &QWidget::close);
  addAction(escape);

  dlgSavePatch = new TSaveDialog(this, QStringLiteral("dlgSavePatch"));
  dlgSavePatch->SetTitle(QStringLiteral("Save changes as patch"));
  dlgSavePatch->SetFilter(QStringLiteral("Patch files (*.patch)|*.patch|All files (*)|*"));
  dlgSavePatch->SetDefaultExt(QStringLiteral("patch"));
}

void TfmChanges::SetChanges(std::string bytes) {
  FBytes = std::move(bytes);
  memChanges->setPlainText(FBytes.empty() ? QStringLiteral("No changes: the replacement equals every selected find.")
                                          : ChangesDisplayText(FBytes));
  btnSave->setEnabled(!FBytes.empty());
}

bool TfmChanges::SaveAs(const std::string& path, std::string& error) const {
  return ReplaceFileContent(path, FBytes, error);
}

void TfmChanges::btnSaveClick() {
  try {
    SaveThroughDialog(*dlgSavePatch, [this](const QString& path) {
      std::string error;
      if (!SaveAs(path.toStdString(), error))
        throw std::runtime_error(QStringLiteral("Cannot save the patch %1: %2").arg(path, QString::fromStdString(error)).toStdString());
    });
  } catch (const std::runtime_error& e) {
    ReportError(QString::fromStdString(e.what()));
  }
}

}  // namespace trawlex

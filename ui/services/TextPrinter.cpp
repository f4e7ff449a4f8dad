#include "ui/services/TextPrinter.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <algorithm>

#include "base/Errors.h"
#include "platform/DurableFile.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

// A screen font as a printer font: pixel sizes become point sizes at the screen's resolution.
QFont PrinterFont(const QFont& font) {
  QFont f = font;
  // Printed text is the lines as they are: no ligatures, so "fi" stays two letters when a
  // reader copies it out of the print file.
  f.setStyleStrategy(QFont::StyleStrategy(f.styleStrategy() | QFont::PreferNoShaping));
  if (font.pixelSize() > 0) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    f.setPointSizeF(font.pixelSize() * 72.0 / dpi);
  }
  return f;
}

// A job's own printer with the chosen printer's settings, so one job never changes another's.
std::unique_ptr<QPrinter> CopyOf(const QPrinter& chosen) {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(chosen.outputFormat());
  if (chosen.outputFormat() == QPrinter::PdfFormat) {
    printer->setOutputFileName(chosen.outputFileName());
  } else {
    printer->setPrinterName(chosen.printerName());
  }
  printer->setPageLayout(chosen.pageLayout());
  printer->setColorMode(chosen.colorMode());
  printer->setCopyCount(chosen.copyCount());
  printer->setDuplex(chosen.duplex());
  return printer;
}

}  // namespace

TTextPrinter::TTextPrinter(QPrinter& printer, const QString& title) : FPrinter(printer) {
  FPrinter.setDocName(title);
  if (FPrinter.outputFormat() == QPrinter::PdfFormat && !FPrinter.outputFileName().isEmpty()) {
    FPdfTarget = FPrinter.outputFileName();
    FPrinter.setOutputFileName(FPdfTarget + QStringLiteral(".%1.part").arg(QCoreApplication::applicationPid()));
  }
  if (!FPainter.begin(&FPrinter)) {
    DropPartFile();
    throw ETrawlexError(Fmt("The printer %s cannot be opened", FPrinter.outputFileName().isEmpty()
                                                                    ? FPrinter.printerName().toStdString()
                                                                    : FPdfTarget.toStdString()));
  }
  FOpen = true;
}

TTextPrinter::~TTextPrinter() {
  if (FOpen) {
    FPainter.end();
    DropPartFile();
  }
}

void TTextPrinter::DropPartFile() {
  if (FPdfTarget.isEmpty()) return;
  QFile::remove(FPrinter.outputFileName());
  FPrinter.setOutputFileName(FPdfTarget);
}

namespace {

// How many characters from the start of `text` fit into `width` (at least one, and never half
// of a surrogate pair).
qsizetype FittingLength(const QFontMetrics& fm, const QString& text, int width) {
  if (fm.horizontalAdvance(text) <= width) return text.size();
  qsizetype low = 1, high = text.size();  // text.left(high) does not fit
  while (high - low > 1) {
    const qsizetype mid = (low + high) / 2;
    if (fm.horizontalAdvance(text.left(mid)) <= width) {
      low = mid;
    } else {
      high = mid;
    }
  }
  if (low > 1 && text[low - 1].isHighSurrogate()) --low;
  if (low == 1 && text.size() > 1 && text[0].isHighSurrogate()) low = 2;
  return low;
}

}  // namespace

void TTextPrinter::PrintLine(const QString& text, const QFont& font) {
  FPainter.setFont(PrinterFont(font));
  const QFontMetrics fm(FPainter.font(), FPainter.device());
  const int pageHeight = FPainter.viewport().height();
  const int pageWidth = std::max(1, FPainter.viewport().width());
  FPainter.setPen(Qt::black);
  // A line wider than the page goes on over as many printed lines as it needs: nothing of it
  // (a find far right, say) is lost at the page's edge.
  QString rest = text;
  do {
    if (FY > 0 && FY + fm.height() > pageHeight) {
      FPrinter.newPage();
      FY = 0;
    }
    const qsizetype n = FittingLength(fm, rest, pageWidth);
    FPainter.drawText(0, FY + fm.ascent(), rest.left(n));
    rest.remove(0, n);
    FY += fm.lineSpacing();
  } while (!rest.isEmpty());
}

void TTextPrinter::EndDoc() {
  if (!FOpen) return;
  FOpen = false;
  if (!FPainter.end() || FPrinter.printerState() == QPrinter::Error) {
    DropPartFile();
    throw ETrawlexError("The print job could not be completed");
  }
  if (FPdfTarget.isEmpty()) return;
  // The finished file takes the target's place in one step.
  QFile part(FPrinter.outputFileName());
  const bool read = part.open(QIODevice::ReadOnly);
  const QByteArray bytes = read ? part.readAll() : QByteArray();
  part.close();
  std::string error = read ? std::string() : part.errorString().toStdString();
  // The PDF writer does not report failed writes (a full disk leaves a short or empty file):
  // a complete PDF file ends with its end-of-file marker.
  const bool complete = read && bytes.trimmed().endsWith("%%EOF");
  if (read && !complete) error = "the file was not written completely (is the disk full?)";
  const bool ok = complete && ReplaceFileContent(QFile::encodeName(FPdfTarget).toStdString(),
                                             std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), error);
  DropPartFile();
  if (!ok) throw ETrawlexError(Fmt("Cannot write %s: %s", FPdfTarget.toStdString(), error));
}

std::unique_ptr<QPrinter> PdfPrinter(const QString& path) {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setOutputFileName(path);
  return printer;
}

bool ExecutePrinterSetup(QWidget* parent, std::unique_ptr<QPrinter>& chosen) {
  auto printer = chosen ? CopyOf(*chosen) : std::make_unique<QPrinter>(QPrinter::HighResolution);
  QPrintDialog dialog(printer.get(), parent);
  dialog.setObjectName(QStringLiteral("dlgPrinterSetup"));
  dialog.setWindowTitle(QStringLiteral("Setup Printer"));
  // Choosing the printer only: the range of pages is the whole job.
  dialog.setOptions(QAbstractPrintDialog::PrintToFile);
  if (dialog.exec() != QDialog::Accepted) return false;
  chosen = std::move(printer);
  return true;
}

std::unique_ptr<QPrinter> ChoosePrinter(const QPrinter* chosen, const QString& documentName) {
  if (chosen) return CopyOf(*chosen);
  const QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (!info.isNull()) return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
  // No printer here: print to a PDF file instead.
  TSaveDialog dialog(nullptr, QStringLiteral("dlgPrintToFile"));
  dialog.SetTitle(QStringLiteral("Print to PDF file"));
  dialog.SetFilter(QStringLiteral("PDF files (*.pdf)|*.pdf|All files (*.*)|*.*"));
  dialog.SetDefaultExt(QStringLiteral("pdf"));
  dialog.SetFileName(documentName + QStringLiteral(".pdf"));
  if (!ExecuteSaveDialog(dialog)) return nullptr;
  return PdfPrinter(dialog.FileName());
}

}  // namespace trawlex

#pragma once
// A text print job: every written line is printed in the font and style given for it, wrapped
// onto further printed lines where it is wider than the page; a line that does not fit on the
// page goes to the next one. The job prints on the printer it is
// given: the default printer, or a PDF file where the machine has none (ChoosePrinter). A PDF
// file is written beside its place and put there only when the job is complete, so a failed
// job leaves an older file of that name as it was.
#include <QFont>
#include <QPainter>
#include <QString>
#include <memory>

class QPrinter;
class QWidget;

namespace trawlex {

class TTextPrinter {
 public:
  // Starts the job on `printer` under `title`; raises when the printer cannot be opened.
  TTextPrinter(QPrinter& printer, const QString& title);
  ~TTextPrinter();
  TTextPrinter(const TTextPrinter&) = delete;
  TTextPrinter& operator=(const TTextPrinter&) = delete;

  // Prints `text` as one line in `font`, wrapped where it is wider than the page. A font sized in pixels is taken as screen pixels and
  // scaled to the printer's resolution, so the print looks as large as the screen.
  void PrintLine(const QString& text, const QFont& font);
  // Ends the job; raises when the printer reports a failure. The destructor ends an unfinished
  // job without raising.
  void EndDoc();

 private:
  void DropPartFile();

  QPrinter& FPrinter;
  QPainter FPainter;
  QString FPdfTarget;  // where a PDF job's file goes once complete; empty for a printer
  int FY = 0;
  bool FOpen = false;
};

// The printer for a print job: a copy of `chosen` (the one chosen with ExecutePrinterSetup,
// kept by the application: TApp::ChosenPrinter), else the default printer when the machine has
// one, else a PDF file that the user names in a save dialog. Null when the user cancels.
std::unique_ptr<QPrinter> ChoosePrinter(const QPrinter* chosen, const QString& documentName);
// The printer setup dialog (on a machine without printers it offers a PDF file), starting from
// `chosen` where there is one. The printer chosen there goes into `chosen` and serves every
// later print job of the application; true when the user chose one.
bool ExecutePrinterSetup(QWidget* parent, std::unique_ptr<QPrinter>& chosen);
// A printer that writes the PDF file `path`.
std::unique_ptr<QPrinter> PdfPrinter(const QString& path);

}  // namespace trawlex

#include "app/qt_print_canvas.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QFontMetrics>
#include <QPen>
#include <QPrinter>

#include "app/cups_print_job.h"
#include "platform/code_pages.h"
#include "rules/message_printer.h"

namespace quillon {

QString AnsiToQString(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string QStringToAnsi(const QString& text) {
  // Unit by unit, so that columns stay those of the Qt text; a unit the
  // code page cannot hold (or half a surrogate pair) becomes "?".
  std::string ansi;
  ansi.reserve(static_cast<std::size_t>(text.size()));
  for (const QChar unit : text) {
    const std::string converted =
        unit.isSurrogate() ? std::string("?")
                           : Utf8ToCp1252(QString(unit).toStdString());
    ansi += converted.empty() ? '?' : converted.front();
  }
  return ansi;
}

QtPrintCanvas::QtPrintCanvas(QPrinter& printer) : printer_(printer) {}

QtPrintCanvas::~QtPrintCanvas() {
  // Only reached open when the layout did not finish the document.
  if (painter_.isActive() || spool_) AbortDocument();
}

void QtPrintCanvas::SetTitle(const std::string& title) {
  printer_.setDocName(AnsiToQString(title));
}

int QtPrintCanvas::PageWidth() const { return printer_.width(); }
int QtPrintCanvas::PageHeight() const { return printer_.height(); }
int QtPrintCanvas::Resolution() const { return printer_.resolution(); }

void QtPrintCanvas::BeginDocument() {
  if (printer_.outputFormat() == QPrinter::NativeFormat) OpenSpoolFile();
  if (!painter_.begin(&printer_)) {
    DropSpoolFile();
    if (printer_.outputFormat() == QPrinter::PdfFormat) {
      throw EPrinterError("The PDF file \"" +
                          QStringToAnsi(printer_.outputFileName()) +
                          "\" cannot be written");
    }
    throw EPrinterError("The printer \"" + QStringToAnsi(printer_.printerName()) +
                        "\" refused the document");
  }
}

void QtPrintCanvas::NewPage() {
  if (!printer_.newPage()) throw EPrinterError("The printer refused a new page");
}

void QtPrintCanvas::EndDocument() {
  const bool ended = painter_.end();
  if (!ended || printer_.printerState() == QPrinter::Error) {
    throw EPrinterError("The printer could not finish the document");
  }
  if (spool_) SubmitSpoolFile();
}

void QtPrintCanvas::AbortDocument() {
  printer_.abort();
  if (painter_.isActive()) painter_.end();
  if (spool_) {
    DropSpoolFile();
  } else {
    RemovePartialPdf();
  }
}

// Qt's own printer engine sends whatever was drawn when the painter ends,
// aborted or not: with an output file it only writes that file.
void QtPrintCanvas::OpenSpoolFile() {
  // No ".pdf" ending: that would turn the printer into a PDF writer.
  spool_ = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                            QStringLiteral("/quillon-job-XXXXXX"));
  if (!spool_->open()) {
    spool_.reset();
    throw EPrinterError("No spool file for the printout can be created");
  }
  spool_->close();
  printer_.setOutputFileName(spool_->fileName());
}

void QtPrintCanvas::SubmitSpoolFile() {
  const QString file = spool_->fileName();
  printer_.setOutputFileName(QString());
  try {
    SubmitPrintJob(printer_.printerName(), file, printer_.docName(),
                   printer_.pageLayout().pageSize().key());
  } catch (...) {
    spool_.reset();
    throw;
  }
  spool_.reset();
}

void QtPrintCanvas::DropSpoolFile() {
  if (!spool_) return;
  printer_.setOutputFileName(QString());
  spool_.reset();
}

void QtPrintCanvas::RemovePartialPdf() const {
  if (printer_.outputFormat() == QPrinter::PdfFormat &&
      !printer_.outputFileName().isEmpty()) {
    QFile::remove(printer_.outputFileName());
  }
}

void QtPrintCanvas::SetFont(const PrintFont& font) {
  font_ = QFont(AnsiToQString(font.name));
  font_.setPointSizeF(font.size > 0 ? font.size : 1);
  font_.setBold(font.bold);
  font_.setItalic(font.italic);
  font_.setUnderline(font.underline);
  font_.setStrikeOut(font.strike_out);
  text_colour_ = QColor(static_cast<int>((font.colour >> 16) & 0xFF),
                        static_cast<int>((font.colour >> 8) & 0xFF),
                        static_cast<int>(font.colour & 0xFF));
}

void QtPrintCanvas::TextOut(int x, int y, const std::string& text) {
  painter_.setFont(font_);
  painter_.setPen(text_colour_);
  const QFontMetrics metrics(font_, &printer_);
  painter_.drawText(QPoint(x, y + metrics.ascent()), AnsiToQString(text));
}

int QtPrintCanvas::TextWidth(const std::string& text) {
  return QFontMetrics(font_, &printer_).horizontalAdvance(AnsiToQString(text));
}

int QtPrintCanvas::TextHeight(const std::string& text) {
  return QFontMetrics(font_, &printer_).height();
}

void QtPrintCanvas::Line(int x1, int y1, int x2, int y2) {
  painter_.setPen(QPen(Qt::black, 1));
  painter_.drawLine(x1, y1, x2, y2);
}

}  // namespace quillon

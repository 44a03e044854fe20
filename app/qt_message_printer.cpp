#include "app/qt_message_printer.h"

#include <QPrinter>
#include <QPrinterInfo>
#include <QTextEdit>

#include "app/print_preview_form.h"
#include "app/qt_print_canvas.h"

namespace quillon {
namespace {

bool PrinterInstalled(const QString& name) {
  for (const QPrinterInfo& info : QPrinterInfo::availablePrinters()) {
    if (info.printerName() == name) return true;  // exact, case-sensitive
  }
  return false;
}

// Selects a remembered printer again when the printout is over, however it
// ends.
class PrinterRestorer {
 public:
  PrinterRestorer(QPrinter& printer, std::string name)
      : printer_(printer), name_(std::move(name)) {}
  ~PrinterRestorer() {
    if (!name_.empty()) printer_.setPrinterName(AnsiToQString(name_));
  }
  PrinterRestorer(const PrinterRestorer&) = delete;
  PrinterRestorer& operator=(const PrinterRestorer&) = delete;

 private:
  QPrinter& printer_;
  std::string name_;
};

}  // namespace

QtMessagePrinter::QtMessagePrinter(QTextEdit& message_text, TPreViewForm& form)
    : message_text_(message_text),
      form_(form),
      printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  printer_->setResolution(kPrinterResolution);
  const QPrinterInfo default_printer = QPrinterInfo::defaultPrinter();
  if (!default_printer.isNull()) {
    printer_->setPrinterName(default_printer.printerName());
  }
}

QtMessagePrinter::~QtMessagePrinter() = default;

void QtMessagePrinter::PrintToPdf(const std::string& path) {
  pdf_output_ = true;
  printer_->setOutputFormat(QPrinter::PdfFormat);
  printer_->setOutputFileName(QString::fromStdString(path));
}

std::string QtMessagePrinter::SelectedPrinter() const {
  return pdf_output_ ? std::string() : QStringToAnsi(printer_->printerName());
}

void QtMessagePrinter::SelectPrinter(const std::string& name) {
  printer_->setPrinterName(AnsiToQString(name));
}

void QtMessagePrinter::PrintReceivedMessage(const PrintRequest& request) {
  PutBodyIntoControl(request);
  const std::string previous = pdf_output_ ? std::string() : ChoosePrinter(request);
  PrinterRestorer restorer(*printer_, previous);
  if (!pdf_output_) EnsurePrinterSelected();
  // Choosing a printer brings its own resolution along.
  printer_->setResolution(kPrinterResolution);
  last_printer_ = SelectedPrinter();
  last_outcome_ =
      form_.PrintMessage(*printer_, message_text_, request.subject,
                         request.from, request.to, request.date,
                         request.attachments);
}

void QtMessagePrinter::PutBodyIntoControl(const PrintRequest& request) {
  message_text_.resize(kMessageTextWidth, message_text_.height());
  std::string text;
  for (std::size_t i = 0; i < request.body.size(); ++i) {
    if (i > 0) text += '\n';
    text += request.body[i];
  }
  message_text_.setPlainText(AnsiToQString(text));
}

std::string QtMessagePrinter::ChoosePrinter(const PrintRequest& request) {
  if (QPrinterInfo::availablePrinters().isEmpty()) {
    throw EPrinterError("There is no printer installed");
  }
  if (request.use_default_printer) {
    const QPrinterInfo default_printer = QPrinterInfo::defaultPrinter();
    if (!default_printer.isNull()) {
      printer_->setPrinterName(default_printer.printerName());
    }
    return {};
  }
  const std::string previous = QStringToAnsi(printer_->printerName());
  const QString wanted = AnsiToQString(request.printer_name);
  if (PrinterInstalled(wanted)) printer_->setPrinterName(wanted);
  return previous;
}

// Without a default printer the selection may be empty or name a printer
// that has gone: the first one installed prints then.
void QtMessagePrinter::EnsurePrinterSelected() {
  if (PrinterInstalled(printer_->printerName())) return;
  const QList<QPrinterInfo> printers = QPrinterInfo::availablePrinters();
  if (printers.isEmpty()) throw EPrinterError("There is no printer installed");
  printer_->setPrinterName(printers.front().printerName());
}

}  // namespace quillon

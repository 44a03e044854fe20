// The program's MessagePrinter: puts the body into the hidden rich-text
// control, selects the printer the request names and prints through the
// print window. It can also print into a PDF file instead (tools, tests).
#pragma once

#include <memory>
#include <string>

#include "rules/message_printer.h"
#include "rules/message_printing.h"

class QPrinter;
class QTextEdit;

namespace quillon {

class TPreViewForm;

// The control's width for laying the body out, in pixels.
inline constexpr int kMessageTextWidth = 590;
// Device units of the printer: the layout's margins are in these.
inline constexpr int kPrinterResolution = 300;

class QtMessagePrinter : public MessagePrinter {
 public:
  // Starts on the system's default printer (or the first one installed).
  QtMessagePrinter(QTextEdit& message_text, TPreViewForm& form);
  ~QtMessagePrinter() override;
  QtMessagePrinter(const QtMessagePrinter&) = delete;
  QtMessagePrinter& operator=(const QtMessagePrinter&) = delete;

  void PrintReceivedMessage(const PrintRequest& request) override;

  // From now on every printout goes into this PDF file; the printer choice
  // of a request is not used then.
  void PrintToPdf(const std::string& path);

  // The printer selected now (8-bit name); empty when printing to PDF.
  std::string SelectedPrinter() const;
  void SelectPrinter(const std::string& name);
  // How the last printout ended, and the printer it was for (empty for a
  // PDF file).
  PrintOutcome LastOutcome() const { return last_outcome_; }
  const std::string& LastPrinter() const { return last_printer_; }

 private:
  void PutBodyIntoControl(const PrintRequest& request);
  // Selects the request's printer; returns the name to select again
  // afterwards, empty when nothing is to be restored.
  std::string ChoosePrinter(const PrintRequest& request);
  void EnsurePrinterSelected();

  QTextEdit& message_text_;
  TPreViewForm& form_;
  std::unique_ptr<QPrinter> printer_;
  bool pdf_output_ = false;
  PrintOutcome last_outcome_ = PrintOutcome::kPrinted;
  std::string last_printer_;
};

}  // namespace quillon

// The print window: shown while a message prints, with a meter over the
// body lines and a Cancel button that stops the printout. It prints a
// message on a QPrinter from the text of a QTextEdit.
#pragma once

#include <QWidget>
#include <string>

#include "rules/message_printing.h"

class QLabel;
class QPrinter;
class QProgressBar;
class QTextEdit;
class QToolBar;
class QToolButton;

namespace quillon {

inline constexpr char kPrintWindowCaption[] = "Print service...";
inline constexpr char kPrintMeterHint[] =
    "Print or preview in progress...Press [Cancel] to abort printing...";

class TPreViewForm : public QWidget, public PrintProgress {
  Q_OBJECT

 public:
  explicit TPreViewForm(QWidget* parent = nullptr);

  // Prints one document on `printer`: the header block from the texts
  // (8-bit), the body as `message_text` lays it out. Returns kCancelled when
  // Cancel was pressed (nothing is printed then); printer failures raise
  // EPrinterError.
  PrintOutcome PrintMessage(QPrinter& printer, const QTextEdit& message_text,
                            const std::string& subject, const std::string& from,
                            const std::string& to, const std::string& date,
                            const std::string& attachments);

  // The Cancel button's handler.
  void ToolbarButton971Click();

  // PrintProgress.
  void PrintStarted(int maximum) override;
  void SetPosition(int position) override;
  bool CancelRequested() const override { return cancel_requested_; }
  void PrintEnded() override;

  // Components.
  QToolBar* Toolbar = nullptr;
  QToolButton* ToolbarButton971 = nullptr;
  QLabel* Label1 = nullptr;
  QProgressBar* LMDMeter1 = nullptr;

 private:
  void CreateComponents();

  bool cancel_requested_ = false;
};

}  // namespace quillon

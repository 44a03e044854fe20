// What the received-message step asks of printing: the print action of a
// rule hands the message's texts to a MessagePrinter, which chooses the
// printer and prints. The program's printer (app/) draws on a real printer;
// tests record the requests.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/string_list.h"

namespace quillon {

// A printer could not be used or refused the document.
class EPrinterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PrintRequest {
  // The rule's printer choice.
  bool use_default_printer = true;
  std::string printer_name;  // looked up exactly when not the default
  // The header block: "To:", "From:", "Date:", "Subject:" and, when not
  // empty, "Attached:" (entries separated by ";").
  std::string subject;
  std::string from;
  std::string to;
  std::string date;
  std::string attachments;
  // The body text, one entry per line.
  TStringList body;
};

class MessagePrinter {
 public:
  virtual ~MessagePrinter() = default;
  // Selects the printer the request names (the selection before is restored
  // afterwards unless the default printer was asked for), lays the body out
  // and prints one document. Throws EPrinterError when there is no printer
  // or it refuses the document; a cancelled printout is not an error.
  virtual void PrintReceivedMessage(const PrintRequest& request) = 0;
};

}  // namespace quillon

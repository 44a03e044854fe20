// quillon-tool print: print a stored or raw message as a print rule does,
// on a printer or into a PDF file. Runs without a display (Qt's offscreen
// platform).
#include <QTextEdit>
#include <iostream>
#include <string>

#include "app/print_preview_form.h"
#include "app/qt_message_printer.h"
#include "mail/header_values.h"
#include "mail/message.h"
#include "platform/date_text.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/qt_tool_application.h"

namespace quillon::tool {
namespace {

constexpr char kUsage[] =
    "  print MSGFILE [--printer NAME | --pdf OUT.pdf]\n"
    "      print a message as a print rule does: on the default printer, on\n"
    "      the printer NAME (exact name; the default when not installed) or\n"
    "      into a PDF file\n";

// The recipient text of a print rule is cut to this length.
constexpr std::size_t kRecipientTextRoom = 143;

struct PrintOptions {
  std::string message_file;
  std::string printer;
  std::string pdf;
};

PrintOptions ParseOptions(const Arguments& arguments) {
  if (arguments.empty()) throw UsageError{"missing MSGFILE"};
  PrintOptions options;
  options.message_file = arguments[0];
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (i + 1 >= arguments.size()) throw UsageError{option + " needs a value"};
    if (option == "--printer" && options.pdf.empty()) {
      options.printer = arguments[++i];
    } else if (option == "--pdf" && options.printer.empty()) {
      options.pdf = arguments[++i];
    } else {
      throw UsageError{"unexpected " + option};
    }
  }
  return options;
}

std::string DateText(const TmsMessage& message) {
  TDateTime date = 0;
  std::string rest;
  ParseMailDate(message.Headers().GetFieldValue("Date"), date, rest);
  if (date == 0) date = NowDateTime();
  return ShortDateText(date) + " " + LongTimeText(date);
}

std::string RecipientText(const TmsMessage& message) {
  if (message.Recipients().Count() == 0) return {};
  const TmsMailAddress& first = message.Recipients().Items(0);
  const std::string text =
      first.Name().empty() ? "<" + first.Address() + ">"
                           : first.Name() + " <" + first.Address() + ">";
  return Cut(text, kRecipientTextRoom);
}

PrintRequest RequestFor(const TmsMessage& message, const PrintOptions& options) {
  PrintRequest request;
  request.use_default_printer = options.printer.empty();
  request.printer_name = options.printer;
  request.subject = message.Subject();
  request.from = "<" + message.Sender().Address() + ">" + message.Sender().Name();
  request.to = RecipientText(message);
  request.date = DateText(message);
  request.body = message.Body();
  return request;
}

int PrintCommand(const Arguments& arguments) {
  const PrintOptions options = ParseOptions(arguments);
  TmsMessage message;
  {
    TFileStream raw(options.message_file, TFileStream::Mode::kOpenRead);
    message.LoadFromStream(raw);
  }
  // The Qt pump runs while printing, so the print window's Cancel works as
  // in the program.
  QtToolApplication application;
  QTextEdit message_text;
  TPreViewForm form;
  QtMessagePrinter printer(message_text, form);
  if (!options.pdf.empty()) printer.PrintToPdf(options.pdf);
  printer.PrintReceivedMessage(RequestFor(message, options));
  if (printer.LastOutcome() == PrintOutcome::kCancelled) {
    std::cout << "cancelled\n";
    return 3;
  }
  std::cout << "printed "
            << (options.pdf.empty() ? "on " + printer.LastPrinter()
                                    : "into " + options.pdf)
            << "\n";
  return 0;
}

const CommandRegistration registration("print", kUsage, PrintCommand);

}  // namespace
}  // namespace quillon::tool

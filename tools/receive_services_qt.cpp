// The program's printer and D-Bus talker for `quillon-tool receive`, so a
// message put through the tool is printed and announced as in a run.
#include <QTextEdit>
#include <memory>

#include "app/dbus_talker.h"
#include "app/print_preview_form.h"
#include "app/qt_message_printer.h"
#include "rules/talker_sender.h"
#include "tools/qt_tool_application.h"
#include "tools/support/receive_services.h"

namespace quillon::tool {
namespace {

class QtReceiveServices final : public ReceiveServices {
 public:
  QtReceiveServices() { InstallTalker(&talker_); }
  ~QtReceiveServices() override { InstallTalker(nullptr); }

  MessagePrinter* Printer() override { return &printer_; }

 private:
  QtToolApplication application_;
  DBusTalker talker_;
  QTextEdit message_text_;
  TPreViewForm form_;
  QtMessagePrinter printer_{message_text_, form_};
};

std::unique_ptr<ReceiveServices> MakeQtReceiveServices() {
  return std::make_unique<QtReceiveServices>();
}

const bool registered = [] {
  SetReceiveServicesFactory(MakeQtReceiveServices);
  return true;
}();

}  // namespace
}  // namespace quillon::tool

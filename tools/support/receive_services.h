// What `quillon-tool receive` takes from the program beyond the core: a
// printer for print rules and the main application's talker. A build with
// Qt registers the program's own (tools/receive_services_qt.cpp); without
// one, print rules fail as on a system without printers and nothing is sent
// to the main application.
#pragma once

#include <memory>

#include "rules/message_printer.h"

namespace quillon::tool {

class ReceiveServices {
 public:
  virtual ~ReceiveServices() = default;
  virtual MessagePrinter* Printer() = 0;
};

using ReceiveServicesFactory = std::unique_ptr<ReceiveServices> (*)();

void SetReceiveServicesFactory(ReceiveServicesFactory factory);

// The registered services, set up for one command; nullptr when none are.
std::unique_ptr<ReceiveServices> MakeReceiveServices();

}  // namespace quillon::tool

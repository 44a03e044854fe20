#include "tools/support/receive_services.h"

namespace quillon::tool {

namespace {

ReceiveServicesFactory& RegisteredFactory() {
  static ReceiveServicesFactory factory = nullptr;
  return factory;
}

}  // namespace

void SetReceiveServicesFactory(ReceiveServicesFactory factory) {
  RegisteredFactory() = factory;
}

std::unique_ptr<ReceiveServices> MakeReceiveServices() {
  const ReceiveServicesFactory factory = RegisteredFactory();
  return factory != nullptr ? factory() : nullptr;
}

}  // namespace quillon::tool

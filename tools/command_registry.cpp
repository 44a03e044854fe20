#include "tools/command_registry.h"

namespace quillon::tool {

namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

CommandRegistration::CommandRegistration(const char* group, const char* usage,
                                         CommandFunction function) {
  Registry().push_back(Command{group, usage, function});
}

const std::vector<Command>& RegisteredCommands() { return Registry(); }

}  // namespace quillon::tool

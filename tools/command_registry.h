// Command groups of quillon-tool register themselves here, so each group
// lives in its own file: a static CommandRegistration in the group's file.
#pragma once

#include <string>
#include <vector>

namespace quillon::tool {

using Arguments = std::vector<std::string>;
// Gets the arguments after the group name; returns the exit status.
using CommandFunction = int (*)(const Arguments& arguments);

struct CommandRegistration {
  CommandRegistration(const char* group, const char* usage,
                      CommandFunction function);
};

struct Command {
  std::string group;
  std::string usage;  // one or more lines, shown by "quillon-tool help"
  CommandFunction function;
};

const std::vector<Command>& RegisteredCommands();

// Raised by commands for a wrong command line; main prints it with the usage.
struct UsageError {
  std::string message;
};

}  // namespace quillon::tool

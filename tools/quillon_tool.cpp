// quillon-tool GROUP ...: command-line access to the program's parts.
#include <exception>
#include <iostream>

#include "tools/command_registry.h"

namespace {

using quillon::tool::Command;
using quillon::tool::RegisteredCommands;

void PrintUsage(std::ostream& out) {
  out << "usage: quillon-tool GROUP ARGUMENTS...\n";
  for (const Command& command : RegisteredCommands()) {
    out << command.usage;
    if (!command.usage.empty() && command.usage.back() != '\n') out << '\n';
  }
}

const Command* FindCommand(const std::string& group) {
  for (const Command& command : RegisteredCommands()) {
    if (command.group == group) return &command;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "help" ||
      std::string(argv[1]) == "--help") {
    PrintUsage(argc < 2 ? std::cerr : std::cout);
    return argc < 2 ? 2 : 0;
  }
  const Command* command = FindCommand(argv[1]);
  if (command == nullptr) {
    std::cerr << "quillon-tool: unknown group \"" << argv[1] << "\"\n";
    PrintUsage(std::cerr);
    return 2;
  }
  quillon::tool::Arguments arguments(argv + 2, argv + argc);
  try {
    return command->function(arguments);
  } catch (const quillon::tool::UsageError& error) {
    std::cerr << "quillon-tool " << command->group << ": " << error.message
              << "\n" << command->usage;
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "quillon-tool " << command->group << ": " << error.what()
              << "\n";
    return 1;
  }
}

// quillon-tool GROUP ...: command-line access to the program's parts.
#include <exception>
#include <iostream>

#ifdef QUILLON_TOOL_QT_PEER
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#endif

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

#ifdef QUILLON_TOOL_QT_PEER
// This build of quillon-tool leaves Qt out so it starts fast; the Qt
// groups live in the program named QUILLON_TOOL_QT_PEER beside it. Groups
// that are here but use the program's Qt services go there too: `receive`
// prints and announces through them.
constexpr std::string_view kGroupsWithQtServices[] = {"receive"};

bool BelongsToQtPeer(int argc, char** argv) {
  if (argc < 2) return true;  // its usage lists every group
  const std::string group = argv[1];
  if (group == "help" || group == "--help") return true;
  if (FindCommand(group) == nullptr) return true;
  for (std::string_view qt_group : kGroupsWithQtServices) {
    if (group == qt_group) return true;
  }
  return false;
}

// Replaces this process with the Qt build beside this executable, with the
// same arguments. Returns only when that cannot be done: the Qt build is
// absent (false; this build goes on alone) or fails to start (true, after
// saying why).
bool ExecQtPeer(char** argv) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return false;
  const std::string peer = (self.parent_path() / QUILLON_TOOL_QT_PEER).string();
  if (::access(peer.c_str(), X_OK) != 0) return false;
  argv[0] = const_cast<char*>(peer.c_str());
  ::execv(peer.c_str(), argv);
  std::cerr << "quillon-tool: cannot start " << peer << ": "
            << std::strerror(errno) << "\n";
  return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef QUILLON_TOOL_QT_PEER
  if (BelongsToQtPeer(argc, argv) && ExecQtPeer(argv)) return 127;
#endif
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

// Runs the built quillon-tool as a program, the way users and scripts do.
#pragma once

#include <string>

namespace quillon::test {

struct ToolRun {
  int exit_code = -1;  // -1 when the program did not exit normally
  std::string output;  // standard output (and standard error when merged)
};

enum class ToolStderr { kDiscarded, kMerged };

// Path of the built quillon-tool.
std::string ToolPath();

// Runs a shell command line, capturing its standard output.
ToolRun RunShell(const std::string& command,
                 ToolStderr stderr_handling = ToolStderr::kDiscarded);

// `arguments` are shell words after "quillon-tool".
ToolRun RunTool(const std::string& arguments,
                ToolStderr stderr_handling = ToolStderr::kDiscarded);

}  // namespace quillon::test

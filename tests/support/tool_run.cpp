#include "tests/support/tool_run.h"

#include <stdio.h>
#include <sys/wait.h>

#include <cstdio>

namespace quillon::test {

std::string ToolPath() { return QUILLON_BINARY_DIR "/bin/quillon-tool"; }

ToolRun RunShell(const std::string& command, ToolStderr stderr_handling) {
  const std::string line =
      command + (stderr_handling == ToolStderr::kMerged ? " 2>&1" : " 2>/dev/null");
  ToolRun run;
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    run.output.append(buffer, got);
  }
  const int status = ::pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

ToolRun RunTool(const std::string& arguments, ToolStderr stderr_handling) {
  return RunShell(ToolPath() + " " + arguments, stderr_handling);
}

}  // namespace quillon::test

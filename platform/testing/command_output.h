#pragma once

// Runs a shell command line the way a user types it and keeps what it
// printed, for tests that drive our programs from outside.

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace fvx::platform::testing {

struct CommandOutput {
  int status = -1;  // the exit code, -1 when the command did not end normally
  std::string out;
};

inline CommandOutput RunCommandLine(const std::string& command) {
  CommandOutput run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace fvx::platform::testing

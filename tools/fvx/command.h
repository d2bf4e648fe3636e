// The fvx command line: one command per cmd_<name>.cpp file, each registering
// itself with FVX_COMMAND, so adding a command touches no shared file.
#pragma once

#include <string>
#include <vector>

namespace fvx::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// args holds the words after the command name.
using CommandFunction = int (*)(const std::vector<std::string>& args);

struct Command {
  const char* name;
  const char* usage;    // one line: "compile SOURCE [-o OUT] [options]"
  const char* summary;  // one line: what it does
  CommandFunction run;
};

// REQUIRES: called during static initialisation only (through FVX_COMMAND).
void RegisterCommand(const Command& command);
const std::vector<Command>& Commands();

struct CommandRegistrar {
  explicit CommandRegistrar(const Command& command) { RegisterCommand(command); }
};

}  // namespace fvx::tool

#define FVX_COMMAND(id, usage, summary, function) \
  static const ::fvx::tool::CommandRegistrar fvx_command_##id({#id, usage, summary, function})

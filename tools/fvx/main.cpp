#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/fvx/command.h"

namespace fvx::tool {
namespace {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: fvx COMMAND [ARGS]\n\ncommands:\n");
  std::vector<Command> sorted = Registry();
  std::sort(sorted.begin(), sorted.end(),
            [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
  for (const Command& command : sorted) {
    std::fprintf(out, "  fvx %s\n      %s\n", command.usage, command.summary);
  }
}

}  // namespace

void RegisterCommand(const Command& command) { Registry().push_back(command); }
const std::vector<Command>& Commands() { return Registry(); }

}  // namespace fvx::tool

int main(int argc, char** argv) {
  using namespace fvx::tool;
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return kExitOk;
  }
  for (const Command& command : Commands()) {
    if (name == command.name) {
      std::vector<std::string> args(argv + 2, argv + argc);
      return command.run(args);
    }
  }
  std::fprintf(stderr, "fvx: unknown command '%s'\n\n", name.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}

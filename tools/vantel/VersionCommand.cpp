#include <fmt/core.h>

#include "Command.h"

namespace {

vantel::CommandRegistration registration{"version", [](CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("version", "Print the tool's version");
  command->callback([&exitCode] {
    fmt::print("vantel 0.1.0\n");
    exitCode = vantel::kExitSuccess;
  });
}};

}  // namespace

#include <fmt/core.h>

#include "Command.h"
#include "vantelkit/Version.h"

namespace {

vantel::CommandRegistration registration{"version", [](CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("version", "Print the tool's version");
  command->callback([&exitCode] {
    fmt::print("vantel {}\n", vantelkit::libraryVersion());
    exitCode = vantel::kExitSuccess;
  });
}};

}  // namespace

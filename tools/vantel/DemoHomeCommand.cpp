// vantel demo-home DIR: writes a small macOS-like home (DIR/home) and system root
// (DIR/root) that give every group of `vantel clean` something to find.
#include <fmt/core.h>

#include <variant>

#include "Command.h"
#include "TextOutput.h"
#include "fixtures/DemoHome.h"

namespace {

int runDemoHome(const std::string& directory) {
  auto written = vantelkit::fixtures::writeDemoHome(directory);
  if (const std::string* error = std::get_if<std::string>(&written)) {
    fmt::print(stderr, "vantel demo-home: {}\n", vantel::escapedForTerminal(*error));
    return vantel::kExitFailure;
  }
  const auto& layout = std::get<vantelkit::fixtures::DemoHomeLayout>(written);
  const std::string home = vantel::escapedForTerminal(layout.home);
  const std::string root = vantel::escapedForTerminal(layout.root);
  fmt::print("{}\n{}\nRun: vantel clean --home {} --root {}\n", home, root, home, root);
  // A failed write is reported once, with the system's reason, when the tool exits.
  return vantel::flushStandardOutput() ? vantel::kExitSuccess : vantel::kExitFailure;
}

vantel::CommandRegistration registration{"demo-home", [](CLI::App& app, int& exitCode) {
  auto directory = std::make_shared<std::string>();
  auto* command = app.add_subcommand(
      "demo-home", "Write a sample home and system root for `vantel clean` (DIR must be new or empty)");
  command->add_option("DIR", *directory, "Folder to write; DIR/home and DIR/root are made in it")->required();
  command->callback([directory, &exitCode] { exitCode = runDemoHome(*directory); });
}};

}  // namespace

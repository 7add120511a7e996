// vantel demo-home DIR: writes a small macOS-like home (DIR/home) and system root
// (DIR/root) that give every group of `vantel clean` something to find.
#include <fmt/core.h>

#include <variant>

#include "Command.h"
#include "fixtures/DemoHome.h"

namespace {

int runDemoHome(const std::string& directory) {
  auto written = vantelkit::fixtures::writeDemoHome(directory);
  if (const std::string* error = std::get_if<std::string>(&written)) {
    fmt::print(stderr, "vantel demo-home: {}\n", *error);
    return vantel::kExitFailure;
  }
  const auto& layout = std::get<vantelkit::fixtures::DemoHomeLayout>(written);
  fmt::print("{}\n{}\nRun: vantel clean --home {} --root {}\n", layout.home, layout.root, layout.home, layout.root);
  return std::fflush(stdout) == 0 ? vantel::kExitSuccess : vantel::kExitFailure;
}

vantel::CommandRegistration registration{"demo-home", [](CLI::App& app, int& exitCode) {
  auto directory = std::make_shared<std::string>();
  auto* command = app.add_subcommand(
      "demo-home", "Write a sample home and system root for `vantel clean` (DIR must be new or empty)");
  command->add_option("DIR", *directory, "Folder to write; DIR/home and DIR/root are made in it")->required();
  command->callback([directory, &exitCode] { exitCode = runDemoHome(*directory); });
}};

}  // namespace

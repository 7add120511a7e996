// vantel demo-home [--layout document|xdg] DIR: writes a small home (DIR/home) and system
// root (DIR/root) that give every group of `vantel clean` something to find: macOS-like for
// the document layout (the default), a Linux desktop's for xdg, with the desktop entries,
// storage and leftovers that `vantel apps` lists there.
#include <fmt/core.h>

#include <variant>

#include "Command.h"
#include "TextOutput.h"
#include "fixtures/DemoHome.h"
#include "fixtures/LinuxDemoHome.h"

namespace {

struct DemoHomeOptions {
  std::string directory;
  std::string layout = "document";
};

int runDemoHome(const DemoHomeOptions& options) {
  const bool linuxHome = options.layout == "xdg";
  auto written = linuxHome ? vantelkit::fixtures::writeLinuxDemoHome(options.directory)
                       : vantelkit::fixtures::writeDemoHome(options.directory);
  if (const std::string* error = std::get_if<std::string>(&written)) {
    fmt::print(stderr, "vantel demo-home: {}\n", vantel::escapedForTerminal(*error));
    return vantel::kExitFailure;
  }
  const auto& layout = std::get<vantelkit::fixtures::DemoHomeLayout>(written);
  const std::string home = vantel::escapedForTerminal(layout.home);
  const std::string root = vantel::escapedForTerminal(layout.root);
  fmt::print("{}\n{}\nRun: vantel clean --home {} --root {}\n", home, root, home, root);
  if (linuxHome) fmt::print("and: vantel apps --home {} --root {}\n", home, root);
  // A failed write is reported once, with the system's reason, when the tool exits.
  return vantel::flushStandardOutput() ? vantel::kExitSuccess : vantel::kExitFailure;
}

vantel::CommandRegistration registration{"demo-home", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<DemoHomeOptions>();
  auto* command = app.add_subcommand(
      "demo-home", "Write a sample home and system root for `vantel clean` (DIR must be new or empty)");
  command->add_option("DIR", options->directory, "Folder to write; DIR/home and DIR/root are made in it")->required();
  command->add_option("--layout", options->layout,
                      "document: a macOS-like home with a Library folder; xdg: a Linux desktop's home")
      ->check(CLI::IsMember({"document", "xdg"}))
      ->default_str("document");
  command->callback([options, &exitCode] { exitCode = runDemoHome(*options); });
}};

}  // namespace

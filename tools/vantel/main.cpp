#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>

#include "Command.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/Terminal.h"

namespace vantel {

CommandRegistration::CommandRegistration(std::string name, Setup setup) {
  registeredCommands().push_back({std::move(name), std::move(setup)});
}

std::vector<RegisteredCommand>& registeredCommands() {
  static std::vector<RegisteredCommand> commands;
  return commands;
}

bool stderrIsTerminal() { return vantelkit::platform::standardErrorIsTerminal(); }

}  // namespace vantel

int main(int argc, char** argv) {
  CLI::App app{"vantel: inspect what can be removed from a machine (reads only; never deletes)"};
  app.require_subcommand(1);
  std::optional<std::string> root;
  std::optional<std::string> home;
  std::optional<int> logLevel;
  app.add_option("--root", root, "Folder to use as the system root (\"/Library\" becomes ROOT/Library)");
  app.add_option("--home", home, "Folder to use as the user's home");
  app.add_option("--log-level", logLevel, "Lowest log level written: 1 debug, 2 info, 3 warning, 4 error")
      ->check(CLI::Range(1, 4));

  int exitCode = vantel::kExitSuccess;
  auto commands = vantel::registeredCommands();
  std::sort(commands.begin(), commands.end(), [](auto& a, auto& b) { return a.name < b.name; });
  for (auto& command : commands) command.setup(app, exitCode);

  app.parse_complete_callback([&] {
    if (root) vantelkit::platform::Paths::setRootOverride(*root);
    if (home) vantelkit::platform::Paths::setHomeOverride(*home);
    if (logLevel) vantelkit::LoggerSettings::setLogLevel(*vantelkit::logLevelFromRawValue(*logLevel));
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? vantel::kExitSuccess : vantel::kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "vantel: " << e.what() << "\n";
    return vantel::kExitFailure;
  }
  std::fflush(stdout);
  return exitCode;
}

#include <fmt/core.h>

#include <algorithm>
#include <system_error>
#include <cstdio>
#include <iostream>
#include <optional>

#include "Command.h"
#include "vantelkit/foundation/Logging.h"
#include "ScanTarget.h"
#include "vantelkit/Version.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/InterruptSignals.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/PlatformLog.h"
#include "vantelkit/platform/Terminal.h"

namespace vantel {

CommandRegistration::CommandRegistration(std::string name, Setup setup) {
  registeredCommands().push_back({std::move(name), std::move(setup)});
}

std::vector<RegisteredCommand>& registeredCommands() {
  static std::vector<RegisteredCommand> commands;
  return commands;
}

namespace {
int firstStandardOutputError = 0;  // main thread only
}  // namespace

void noteStandardOutputError(int error) {
  if (firstStandardOutputError == 0) firstStandardOutputError = error;
}

int standardOutputError() { return firstStandardOutputError; }

vantelkit::OutputSink standardOutputSink() {
  return [write = vantelkit::fileSink(stdout)](std::string_view bytes) {
    std::error_code error = write(bytes);
    if (error) noteStandardOutputError(error.value());
    return error;
  };
}

bool flushStandardOutput() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  if (const int error = vantelkit::platform::lastErrorNumber(); error != 0) noteStandardOutputError(error);
  return false;
}

bool stderrIsTerminal() { return vantelkit::platform::standardErrorIsTerminal(); }

}  // namespace vantel

namespace {

// The first word that is not an option (or an option's value): the command.
std::optional<std::string> commandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--root" || arg == "--home" || arg == "--log-level") {
      ++i;
      continue;
    }
    if (!arg.empty() && arg[0] == '-') continue;
    return std::string(arg);
  }
  return std::nullopt;
}

// The folder given to --home or --root (by the command's own option when it has one, else
// by the tool's), checked before any command reads it: a folder that is missing or not a
// folder would otherwise look like a clean machine. Throws CLI::RuntimeError with the exit
// status after one message on stderr: 2 for an empty text, 1 for what the system refused.
std::optional<std::string> checkedFolderOption(CLI::App& app, const char* name, const std::optional<std::string>& global) {
  std::optional<std::string> given = global;
  for (auto* command : app.get_subcommands()) {
    if (auto* option = command->get_option_no_throw(name); option && option->count() > 0) {
      given = option->as<std::string>();
    }
  }
  if (!given) return given;
  if (given->empty()) {
    fmt::print(stderr, "vantel: {} must not be empty\n", name);
    throw CLI::RuntimeError(vantel::kExitUsage);
  }
  auto status = vantelkit::platform::pathStatus(*given, true);
  if (status.error) {
    fmt::print(stderr, "vantel: {} {}: {}\n", name, vantel::escapedForTerminal(*given), status.error.message());
    throw CLI::RuntimeError(vantel::kExitFailure);
  }
  if (status.type != vantelkit::platform::FileObjectType::directory) {
    fmt::print(stderr, "vantel: {} {}: not a folder\n", name, vantel::escapedForTerminal(*given));
    throw CLI::RuntimeError(vantel::kExitFailure);
  }
  return given;
}

// Standard output is flushed and checked once at the end: a failed write anywhere (a full
// disk, a closed pipe or descriptor) is a failure with the system's reason.
int checkStandardOutput(int exitCode) {
  int error = 0;
  if (std::fflush(stdout) != 0) error = vantelkit::platform::lastErrorNumber();
  if (vantel::standardOutputError() != 0) error = vantel::standardOutputError();
  if (error == 0 && !std::ferror(stdout)) return exitCode;
  if (error != 0) {
    fmt::print(stderr, "vantel: cannot write to standard output: {}\n", vantelkit::platform::errorDescription(error));
  } else {
    fmt::print(stderr, "vantel: cannot write to standard output\n");
  }
  return vantel::isInterruptedExit(exitCode) ? exitCode : vantel::kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  // Results go to standard output: the library's log lines must not land among them.
  vantelkit::PrintLogger::setStream(vantelkit::PrintLogger::Stream::standardError);
  // Before any thread starts, so that every thread leaves the signals to the watcher.
  vantelkit::platform::InterruptSignals::install("\r\033[K");
  // The library's few lines straight to standard output ("DiskScanner Stop" when a scan is
  // cancelled) would land in the results: they go to stderr, as log lines, when asked for.
  vantelkit::platform::setStandardOutputMessageSink([](std::string_view message) {
    if (vantelkit::LoggerSettings::logLevel() <= vantelkit::LogLevel::info) fmt::print(stderr, "{}\n", message);
  });
  CLI::App app{"vantel: inspect what can be removed from a machine (reads only; never deletes)"};
  app.require_subcommand(1);
  app.fallthrough();
  std::optional<std::string> root;
  std::optional<std::string> home;
  std::optional<std::string> logLevel;
  app.add_option("--root", root, "Folder to use as the system root (\"/Library\" becomes ROOT/Library)");
  app.add_option("--home", home, "Folder to use as the user's home");
  app.add_option("--log-level", logLevel, "Lowest log level written: 1 debug, 2 info, 3 warning, 4 error")
      ->type_name("N");
  // The parser's own messages read like the commands' ("vantel: PATH is required").
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return fmt::format("vantel: {}\nRun vantel --help for the commands, vantel COMMAND --help for their options.\n",
                       error.what());
  });

  int exitCode = vantel::kExitSuccess;
  auto commands = vantel::registeredCommands();
  std::sort(commands.begin(), commands.end(), [](auto& a, auto& b) { return a.name < b.name; });
  for (auto& command : commands) command.setup(app, exitCode);
  // Global options are accepted after the command too.
  for (auto* command : app.get_subcommands({})) command->fallthrough();

  // After any command as before it, as --help is: the flag belongs to the tool, and a
  // command passes options it does not know on to the tool.
  app.set_version_flag("--version", fmt::format("vantel {}", vantelkit::libraryVersion()), "Print the tool's version");
  auto word = commandWord(argc, argv);
  const bool asksForHelpOrVersion = std::any_of(argv + 1, argv + argc, [](const char* arg) {
    std::string_view text = arg;
    return text == "--help" || text == "-h" || text == "--version";
  });
  if (!word && !asksForHelpOrVersion) {
    std::string list = "usage: vantel [--root DIR] [--home DIR] [--log-level N] COMMAND ...\n\nCommands:\n";
    for (auto* command : app.get_subcommands({})) {
      list += fmt::format("  {:<10}  {}\n", command->get_name(), command->get_description());
    }
    list += "\nRun vantel COMMAND --help for a command's options.\n";
    fmt::print(stderr, "{}", list);
    return vantel::kExitUsage;
  }
  if (word) {
    bool known = std::any_of(commands.begin(), commands.end(), [&](auto& c) { return c.name == *word; });
    if (!known) {
      fmt::print(stderr, "vantel: unknown command: {}\nRun vantel --help for the commands.\n",
                 vantel::escapedForTerminal(*word));
      return vantel::kExitUsage;
    }
  }

  app.parse_complete_callback([&] {
    if (auto folder = checkedFolderOption(app, "--root", root)) vantelkit::platform::Paths::setRootOverride(*folder);
    if (auto folder = checkedFolderOption(app, "--home", home)) vantelkit::platform::Paths::setHomeOverride(*folder);
    if (logLevel) {
      auto number = vantel::parseWholeNumber(*logLevel);
      auto level = number && *number <= 4 ? vantelkit::logLevelFromRawValue(static_cast<int>(*number)) : std::nullopt;
      if (!level) {
        fmt::print(stderr, "vantel: --log-level must be a whole number from 1 to 4\n");
        throw CLI::RuntimeError(vantel::kExitUsage);
      }
      vantelkit::LoggerSettings::setLogLevel(*level);
    }
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForVersion& e) {
    fmt::print("{}\n", e.what());
    return checkStandardOutput(vantel::kExitSuccess);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return checkStandardOutput(code == 0 ? vantel::kExitSuccess : vantel::kExitUsage);
  } catch (const std::system_error& e) {
    // fmt reports a failed write to standard output this way.
    fmt::print(stderr, "vantel: cannot write to standard output: {}\n",
               vantelkit::platform::errorDescription(e.code().value()));
    return vantel::kExitFailure;
  } catch (const std::exception& e) {
    std::cerr << "vantel: " << e.what() << "\n";
    return vantel::kExitFailure;
  }
  return checkStandardOutput(exitCode);
}

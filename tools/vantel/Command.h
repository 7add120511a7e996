// Registration of the tool's subcommands: each *Command.cpp defines one static
// CommandRegistration, and main() sets them all up in name order.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "vantelkit/foundation/OutputSink.h"

namespace vantel {

// Exit codes: 0 success, 1 runtime failure with one clear message, 2 usage error.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct CommandRegistration {
  // setup adds the subcommand to app and sets its callback; the callback stores its exit
  // code through the given reference.
  using Setup = std::function<void(CLI::App& app, int& exitCode)>;
  CommandRegistration(std::string name, Setup setup);
};

struct RegisteredCommand {
  std::string name;
  CommandRegistration::Setup setup;
};
std::vector<RegisteredCommand>& registeredCommands();

// The system's error number of the first failed write to stdout that a writer noted (0 when
// none), for the closing check of standard output.
void noteStandardOutputError(int error);
int standardOutputError();
// A sink writing to stdout whose failures are noted for the closing check.
vantelkit::OutputSink standardOutputSink();
// Flushes stdout; false after any failed write to it, whose reason is then noted for the
// closing check (so a command says nothing itself about a failed write).
bool flushStandardOutput();

// True when stderr is a terminal (progress is shown only then).
bool stderrIsTerminal();

}  // namespace vantel

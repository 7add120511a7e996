#include <fmt/core.h>

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "Command.h"
#include "TextOutput.h"
#include "vantelkit/foundation/MemoryWatchdog.h"
#include "vantelkit/platform/SystemMemory.h"

namespace {

vantel::CommandRegistration registration{"memory", [](CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("memory", "Print the memory used by this process out of the machine's total");
  auto json = std::make_shared<bool>(false);
  command->add_flag("--json", *json, "Print {\"used\", \"total\", \"description\"} as JSON");
  command->callback([&exitCode, json] {
    auto usage = vantelkit::MemoryWatchdog::MemoryUsage::read(*vantelkit::platform::SystemMemory::system());
    if (!usage) {
      std::cerr << "vantel: " << vantelkit::MemoryWatchdog::MemoryError::failedToRead().localizedDescription()
                << "\n";
      exitCode = vantel::kExitFailure;
      return;
    }
    // The same decimal units and precision as the other commands.
    std::string description = vantel::formatBytes(static_cast<std::int64_t>(usage->used)) + " used out of " +
                              vantel::formatBytes(static_cast<std::int64_t>(usage->total)) + " total";
    if (*json) {
      nlohmann::ordered_json output{
          {"version", 1}, {"used", usage->used}, {"total", usage->total}, {"description", description}};
      fmt::print("{}\n", output.dump());
    } else {
      fmt::print("{}\n", description);
    }
    exitCode = vantel::kExitSuccess;
  });
}};

}  // namespace

#include <fmt/core.h>

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "Command.h"
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
    if (*json) {
      nlohmann::ordered_json output{{"used", usage->used}, {"total", usage->total}, {"description", usage->description()}};
      fmt::print("{}\n", output.dump());
    } else {
      fmt::print("{}\n", usage->description());
    }
    exitCode = vantel::kExitSuccess;
  });
}};

}  // namespace

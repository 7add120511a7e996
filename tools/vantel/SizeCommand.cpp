// vantel size PATH [--json]: the total logical size (and disk usage) of the regular files
// below PATH.
#include <fmt/core.h>

#include "Command.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "ScanTarget.h"

namespace {

struct SizeOptions {
  std::string path;
  bool json = false;
  bool diskUsage = false;
  vantel::WalkChoices walk;
  vantel::ScannerTuning tuning;
};

int runSize(const SizeOptions& options) {
  if (options.path.empty()) {
    fmt::print(stderr, "vantel: PATH must not be empty\n");
    return vantel::kExitUsage;
  }
  auto target = vantel::resolveScanTarget(options.path);
  if (!target) return vantel::kExitFailure;
  vantel::ScanRun run(options.tuning, options.walk);
  if (!run.ready()) return vantel::kExitUsage;
  // Bundles included, no tree, as the size procedure does.
  auto result = run.run(*target, {.searchBundles = true});
  const std::int64_t shown = options.diskUsage ? result->totalUsage() : result->totalSize();

  if (options.json) {
    vantelkit::JsonWriter json(vantel::standardOutputSink());
    json.beginObject();
    json.key("version");
    json.value(std::int64_t{1});
    json.key("path");
    json.value(target->path);
    json.key("size");
    json.value(result->totalSize());
    json.key("usage");
    json.value(result->totalUsage());
    json.key("filesScanned");
    json.value(result->totalFilesScanned());
    json.key("hardLinks");
    json.value(result->hardLinksCountedOnce() ? "counted once" : "each link counted");
    json.key("unreadable");
    json.value(static_cast<std::int64_t>(result->unreadableCount()));
    json.key("complete");
    json.value(!run.interrupted());
    json.key("elapsed");
    json.value(result->elapsed());
    json.endObject();
    json.endDocument();
  } else {
    fmt::print("{}\t{} ({}, {}, {:.2f} s)\n", shown, vantel::escapedForTerminal(target->path),
               vantel::formatBytes(shown), vantel::entriesText(result->totalFilesScanned()),
               result->elapsed());
  }
  return vantel::reportScanProblems(*target, *result, run.interrupted());
}

vantel::CommandRegistration registration{"size", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SizeOptions>();
  auto* command = app.add_subcommand("size", "Total logical size of the regular files below a folder");
  command->add_option("PATH", options->path, "Folder to measure (a link given here is followed)")->required();
  command->add_flag("--json", options->json, "Machine-readable output");
  command->add_flag("--disk-usage", options->diskUsage, "Print the bytes allocated on disk instead of the logical size");
  options->walk.addOptions(*command);
  options->tuning.addOptions(*command);
  command->callback([options, &exitCode] { exitCode = runSize(*options); });
}};

}  // namespace

// vantel size PATH... [--json]: the total logical size (and disk usage) of everything below
// each PATH (files, and folders' and links' own sizes, as du counts them), or of the file
// PATH itself, one line per PATH as du -s prints it.
#include <fmt/core.h>

#include "Command.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "vantelkit/platform/FileStatus.h"
#include "ScanTarget.h"

namespace {

struct SizeOptions {
  std::vector<std::string> paths;
  bool json = false;
  bool diskUsage = false;
  bool statistics = false;
  vantel::WalkChoices walk;
  vantel::ScannerTuning tuning;
};

// What was measured at one PATH.
struct Measure {
  std::int64_t size = 0;
  std::int64_t usage = 0;
  std::int64_t filesScanned = 0;
  std::int64_t unreadable = 0;
  bool hardLinksCountedOnce = true;
  double elapsed = 0;
};

void printMeasure(const SizeOptions& options, const std::string& path, const Measure& measure, bool complete) {
  const std::int64_t shown = options.diskUsage ? measure.usage : measure.size;
  if (options.json) {
    vantelkit::JsonWriter json(vantel::standardOutputSink());
    json.beginObject();
    json.key("version");
    json.value(std::int64_t{1});
    json.key("path");
    json.value(path);
    json.key("size");
    json.value(measure.size);
    json.key("usage");
    json.value(measure.usage);
    json.key("filesScanned");
    json.value(measure.filesScanned);
    json.key("hardLinks");
    json.value(measure.hardLinksCountedOnce ? "counted once" : "each link counted");
    json.key("unreadable");
    json.value(measure.unreadable);
    json.key("complete");
    json.value(complete);
    json.key("elapsed");
    json.value(measure.elapsed);
    json.endObject();
    json.endDocument();
  } else {
    fmt::print("{}\t{}\n", shown, vantel::escapedForTerminal(path));
  }
  // The statistics come after the line they describe, so that both streams read in order.
  vantel::flushStandardOutput();
  if (options.statistics) {
    fmt::print(stderr, "{}: {}, {}, {:.2f} s\n", vantel::escapedForTerminal(path), vantel::formatBytes(shown),
               vantel::entriesText(measure.filesScanned), measure.elapsed);
  }
}

int runSize(const SizeOptions& options) {
  for (const auto& path : options.paths) {
    if (path.empty()) {
      fmt::print(stderr, "vantel: PATH must not be empty\n");
      return vantel::kExitUsage;
    }
  }
  vantel::WalkChoices walk = options.walk;
  walk.countOwnSizes = true;  // as du counts: folders, links and special files too
  vantel::ScanRun run(options.tuning, walk);
  if (!run.ready()) return vantel::kExitUsage;
  int status = vantel::kExitSuccess;
  for (const auto& path : options.paths) {
    // A link given here is followed, as du -D does; a dangling one is an error.
    auto found = vantelkit::platform::pathStatus(path, true);
    if (found.error) {
      fmt::print(stderr, "vantel: {}: {}\n", vantel::escapedForTerminal(path), found.error.message());
      status = vantel::kExitFailure;
      continue;
    }
    if (found.type != vantelkit::platform::FileObjectType::directory) {
      // Anything that is not a folder is its own size.
      printMeasure(options, path, Measure{.size = found.ownSize, .usage = found.ownUsage, .filesScanned = 1}, true);
      continue;
    }
    auto target = vantel::resolveScanTarget(path);
    if (!target) {
      status = vantel::kExitFailure;
      continue;
    }
    // Bundles included, no tree, as the size procedure does.
    auto result = run.run(*target, {.searchBundles = true});
    printMeasure(options, target->path,
                 Measure{.size = result->totalSize(),
                         .usage = result->totalUsage(),
                         .filesScanned = result->totalFilesScanned(),
                         .unreadable = static_cast<std::int64_t>(result->unreadableCount()),
                         .hardLinksCountedOnce = result->hardLinksCountedOnce(),
                         .elapsed = result->elapsed()},
                 !run.interrupted());
    const int problems = vantel::reportScanProblems(*target, *result, run.interrupted());
    if (problems == vantel::kExitInterrupted) return problems;
    if (problems != vantel::kExitSuccess) status = problems;
  }
  return status;
}

vantel::CommandRegistration registration{"size", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SizeOptions>();
  auto* command = app.add_subcommand(
      "size", "Total logical size of everything below each folder (the folder's own included), or of a file, as du -sb");
  command->add_option("PATH", options->paths, "Folders or files to measure (a link given here is followed)")
      ->required();
  command->add_flag("--json", options->json, "Machine-readable output: one JSON document per PATH, one per line");
  command->add_flag("--disk-usage", options->diskUsage, "Print the bytes allocated on disk instead of the logical size");
  command->add_flag("--stats", options->statistics,
                    "After each PATH's line, write its size in units, the entries scanned and the seconds taken to stderr");
  options->walk.addOptions(*command);
  options->tuning.addOptions(*command);
  command->callback([options, &exitCode] { exitCode = runSize(*options); });
}};

}  // namespace

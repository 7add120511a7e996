// vantel size PATH [--json]: the total logical size of the regular files below PATH.
#include <fmt/core.h>

#include "Command.h"
#include "JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/diskmap/DiskScanner.h"
#include "vantelkit/scanning/FileCollector.h"

namespace {

struct SizeOptions {
  std::string path;
  bool json = false;
  vantel::ScannerTuning tuning;
};

int runSize(const SizeOptions& options) {
  auto target = vantel::resolveScanTarget(options.path);
  if (!target) return vantel::kExitFailure;
  auto scanner = vantelkit::DiskScanner::make();
  if (!options.tuning.apply(*scanner)) return vantel::kExitUsage;
  auto sizes = std::make_shared<vantelkit::SizeCollector>();
  // As the size procedure does: bundles included, no tree.
  auto result = scanner->scan(target->url, {sizes}, false, true, std::nullopt);

  if (options.json) {
    vantel::JsonWriter json(stdout);
    json.beginObject();
    json.key("path");
    json.value(target->path);
    json.key("size");
    json.value(sizes->totalSize());
    json.key("filesScanned");
    json.value(result->totalFilesScanned());
    json.key("elapsed");
    json.value(result->elapsed());
    json.endObject();
    std::fputc('\n', stdout);
    return json.flush() ? vantel::kExitSuccess : vantel::kExitFailure;
  }
  fmt::print("{}\t{} ({}, {} files and folders, {:.2f} s)\n", sizes->totalSize(), target->path,
             vantel::formatBytes(sizes->totalSize()), result->totalFilesScanned(), result->elapsed());
  return vantel::kExitSuccess;
}

vantel::CommandRegistration registration{"size", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SizeOptions>();
  auto* command = app.add_subcommand("size", "Total logical size of the regular files below a folder");
  command->add_option("PATH", options->path, "Folder to measure")->required();
  command->add_flag("--json", options->json, "Machine-readable output");
  options->tuning.addOptions(*command);
  command->callback([options, &exitCode] { exitCode = runSize(*options); });
}};

}  // namespace

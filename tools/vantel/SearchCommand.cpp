// vantel search PATH [filters]: the files and folders below PATH that pass every filter,
// found by the library's file scanner, with live progress on a terminal.
#include <fmt/core.h>

#include <optional>

#include "Command.h"
#include "JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/scanning/FileScanner.h"

namespace {

using vantelkit::FileNode;
using Node = std::shared_ptr<FileNode>;

struct SearchOptions {
  std::string path;
  std::optional<std::string> nameContains;
  std::optional<std::string> extension;
  std::optional<std::int64_t> minSize;
  std::optional<std::string> type;
  bool json = false;
};

std::vector<vantelkit::FileCollector::Evaluator> evaluatorsFor(const SearchOptions& options) {
  std::vector<vantelkit::FileCollector::Evaluator> evaluators;
  if (options.type) {
    auto wanted = *options.type == "directory" ? FileNode::NodeType::directory : FileNode::NodeType::file;
    evaluators.push_back([wanted](const Node& node) { return node->type() == wanted; });
  }
  if (options.extension) {
    evaluators.push_back([extension = *options.extension](const Node& node) {
      return node->fileExtension() == extension;
    });
  }
  if (options.nameContains) {
    evaluators.push_back([text = *options.nameContains](const Node& node) {
      return node->name().find(text) != std::string::npos;
    });
  }
  if (options.minSize) {
    evaluators.push_back([minimum = *options.minSize](const Node& node) { return node->size() >= minimum; });
  }
  return evaluators;
}

int runSearch(const SearchOptions& options) {
  auto target = vantel::resolveScanTarget(options.path);
  if (!target) return vantel::kExitFailure;
  auto scanner = vantelkit::FileScanner::make(target->url, evaluatorsFor(options));
  bool finished = false;
  std::vector<Node> matches;
  std::int64_t filesScanned = 0;
  const bool progress = vantel::stderrIsTerminal();
  if (progress) {
    scanner->callbacks.scanUpdate = [](const std::vector<Node>& found, std::int64_t examined) {
      fmt::print(stderr, "\r{} matches, {} examined", found.size(), examined);
      std::fflush(stderr);
    };
  }
  scanner->callbacks.didFinishScanningFiles = [&](const std::vector<Node>& found, std::int64_t scanned) {
    matches = found;
    filesScanned = scanned;
    finished = true;
  };
  scanner->start();
  vantelkit::MainQueue::runUntil([&finished] { return finished; }, 365.0 * 24 * 3600);
  if (progress) fmt::print(stderr, "\r\033[K");

  if (options.json) {
    vantel::JsonWriter json(stdout);
    json.beginObject();
    json.key("matches");
    json.beginArray();
    for (const auto& node : matches) {
      json.beginObject();
      json.key("path");
      json.value(node->url().path());
      json.key("size");
      json.value(node->size());
      json.key("type");
      json.value(FileNode::nodeTypeName(node->type()));
      json.endObject();
    }
    json.endArray();
    // Every node the scan created was offered to the search, so both counts agree.
    json.key("evaluated");
    json.value(filesScanned);
    json.key("filesScanned");
    json.value(filesScanned);
    json.endObject();
    std::fputc('\n', stdout);
    return json.flush() ? vantel::kExitSuccess : vantel::kExitFailure;
  }
  std::string out;
  out.reserve(1 << 16);
  for (const auto& node : matches) {
    out += node->url().path();
    out += '\n';
    if (out.size() >= (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? vantel::kExitSuccess : vantel::kExitFailure;
}

vantel::CommandRegistration registration{"search", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SearchOptions>();
  auto* command = app.add_subcommand("search", "Find the files and folders below a folder that pass every filter");
  command->add_option("PATH", options->path, "Folder to search (bundles included)")->required();
  command->add_option("--name-contains", options->nameContains, "Name contains TEXT (case-sensitive)");
  command->add_option("--extension", options->extension, "Path extension is EXT (without the dot)");
  command->add_option("--min-size", options->minSize, "Size of at least BYTES (folders count as 0)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--type", options->type, "Only files or only folders")
      ->check(CLI::IsMember({"file", "directory"}));
  command->add_flag("--json", options->json, "Machine-readable output");
  command->callback([options, &exitCode] { exitCode = runSearch(*options); });
}};

}  // namespace

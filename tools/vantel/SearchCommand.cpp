// vantel search PATH [filters]: the files and folders below PATH that pass every filter,
// with live progress on a terminal.
#include <fmt/core.h>

#include <algorithm>
#include <cctype>
#include <optional>

#include "Command.h"
#include "JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/FileCollector.h"

namespace {

using vantelkit::FileNode;
using Node = std::shared_ptr<FileNode>;

struct SearchOptions {
  std::string path;
  std::optional<std::string> nameContains;
  std::optional<std::string> extension;
  std::optional<std::string> minSize;
  std::optional<std::string> type;
  bool ignoreCase = false;
  bool json = false;
  bool print0 = false;
  vantel::WalkChoices walk;
  vantel::ScannerTuning tuning;
};

std::string lowered(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::vector<vantelkit::FileCollector::Evaluator> evaluatorsFor(const SearchOptions& options,
                                                               std::optional<std::int64_t> minSize) {
  std::vector<vantelkit::FileCollector::Evaluator> evaluators;
  const bool fold = options.ignoreCase;
  if (options.type) {
    auto wanted = *options.type == "directory" ? FileNode::NodeType::directory : FileNode::NodeType::file;
    evaluators.push_back([wanted](const Node& node) { return node->type() == wanted; });
  }
  if (options.extension) {
    // A leading dot is allowed; "tar.gz" is matched whole. A name that is only the
    // extension (".gz") has none, as a leading dot starts no extension.
    std::string suffix = "." + (fold ? lowered(*options.extension) : *options.extension);
    evaluators.push_back([suffix, fold](const Node& node) {
      const std::string& name = node->name();
      if (name.size() <= suffix.size()) return false;
      std::string_view tail = std::string_view(name).substr(name.size() - suffix.size());
      return fold ? lowered(tail) == suffix : tail == suffix;
    });
  }
  if (options.nameContains) {
    std::string text = fold ? lowered(*options.nameContains) : *options.nameContains;
    evaluators.push_back([text, fold](const Node& node) {
      return (fold ? lowered(node->name()) : node->name()).find(text) != std::string::npos;
    });
  }
  if (minSize) {
    evaluators.push_back([minimum = *minSize](const Node& node) { return node->size() >= minimum; });
  }
  return evaluators;
}

int runSearch(const SearchOptions& options) {
  if (options.path.empty()) {
    fmt::print(stderr, "vantel: PATH must not be empty\n");
    return vantel::kExitUsage;
  }
  if (options.json && options.print0) {
    fmt::print(stderr, "vantel: --json and --print0 cannot be used together\n");
    return vantel::kExitUsage;
  }
  std::optional<std::int64_t> minSize;
  if (options.minSize) {
    minSize = vantel::parseByteCount(*options.minSize);
    if (!minSize) {
      fmt::print(stderr, "vantel: --min-size must be a whole number of bytes \u2265 0, with an optional unit "
                         "(K, M, G, T or KiB, MiB, GiB, TiB)\n");
      return vantel::kExitUsage;
    }
  }
  SearchOptions adjusted = options;
  if (adjusted.extension) {
    std::string_view extension = *adjusted.extension;
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    if (extension.empty()) {
      fmt::print(stderr, "vantel: --extension must not be empty\n");
      return vantel::kExitUsage;
    }
    adjusted.extension = std::string(extension);
  }
  auto target = vantel::resolveScanTarget(options.path);
  if (!target) return vantel::kExitFailure;
  auto collector = std::make_shared<vantelkit::SearchFileCollector>(evaluatorsFor(adjusted, minSize));
  std::weak_ptr<vantelkit::SearchFileCollector> weak = collector;
  vantel::ScanRun run(options.tuning, options.walk, [weak] {
    auto current = weak.lock();
    return current ? vantel::countOf(static_cast<std::int64_t>(current->fileCount()), "match", "matches") : std::string();
  });
  if (!run.ready()) return vantel::kExitUsage;
  // Bundles included, no tree.
  auto result = run.run(*target, {collector}, false, true, std::nullopt);

  // Sorted by path, so that two runs over the same files print the same text.
  std::vector<std::pair<std::string, Node>> matches;
  for (auto& node : collector->files()) matches.emplace_back(target->displayPath(node->url().path()), node);
  std::sort(matches.begin(), matches.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

  if (options.json) {
    vantel::JsonWriter json(stdout);
    json.beginObject();
    json.key("version");
    json.value(std::int64_t{1});
    json.key("path");
    json.value(target->path);
    json.key("matches");
    json.beginArray();
    for (const auto& [path, node] : matches) {
      json.beginObject();
      json.key("path");
      json.value(path);
      json.key("size");
      if (node->hasMark(FileNode::unreadable) && node->type() == FileNode::NodeType::file) {
        json.null();
      } else {
        json.value(node->size());
      }
      json.key("type");
      json.value(FileNode::nodeTypeName(node->type()));
      if (node->hasMark(FileNode::unreadable)) {
        json.key("error");
        json.value(vantelkit::platform::errorDescription(node->error()));
      }
      json.endObject();
    }
    json.endArray();
    // Every node the scan created was offered to the search, so both counts agree.
    json.key("evaluated");
    json.value(collector->evaluatedCount());
    json.key("filesScanned");
    json.value(result->totalFilesScanned());
    json.key("unreadable");
    json.value(static_cast<std::int64_t>(result->unreadableCount()));
    json.key("complete");
    json.value(!run.interrupted());
    json.endObject();
    json.endDocument();
  } else {
    std::string out;
    out.reserve(1 << 16);
    for (const auto& [path, node] : matches) {
      if (options.print0) {
        out += path;
        out += '\0';
      } else {
        out += vantel::escapedForTerminal(path);
        out += '\n';
      }
      if (out.size() >= (1 << 16)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return vantel::reportScanProblems(*target, *result, run.interrupted());
}

vantel::CommandRegistration registration{"search", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SearchOptions>();
  auto* command = app.add_subcommand("search", "Find the files and folders below a folder that pass every filter");
  command->add_option("PATH", options->path, "Folder to search, bundles included (a link given here is followed)")
      ->required();
  command->add_option("--name-contains", options->nameContains, "Name contains TEXT")->type_name("TEXT");
  command->add_option("--extension", options->extension,
                      "Name ends with .EXT (a leading dot is allowed; compound ones like tar.gz too)")
      ->type_name("EXT");
  command->add_flag("-i,--ignore-case", options->ignoreCase, "--name-contains and --extension ignore case");
  command->add_option("--min-size", options->minSize,
                      "Size of at least SIZE: bytes, or with K, M, G, T (1000s) or KiB, MiB, GiB, TiB (1024s); "
                      "folders count as 0")
      ->type_name("SIZE");
  command->add_option("--type", options->type, "Only files or only folders")
      ->check(CLI::IsMember({"file", "directory"}));
  command->add_flag("--json", options->json, "Machine-readable output, sorted by path");
  command->add_flag("-0,--print0", options->print0, "Paths as they are, each ended by a NUL byte (for xargs -0)");
  options->walk.addOptions(*command);
  options->tuning.addOptions(*command);
  command->callback([options, &exitCode] { exitCode = runSearch(*options); });
}};

}  // namespace

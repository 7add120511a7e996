// vantel search PATH... [filters]: the files and folders below each PATH that pass every filter,
// with live progress on a terminal.
#include <fmt/core.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "Command.h"
#include "ScanTarget.h"
#include "vantelkit/diskmap/DiskMapSearch.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/DiskMap.h"

namespace {

using vantelkit::DiskMap;
using vantelkit::FileNode;
using Index = DiskMap::Index;

struct SearchOptions {
  std::vector<std::string> paths;
  std::optional<std::string> nameContains;
  std::optional<std::string> extension;
  std::optional<std::string> glob;
  std::optional<std::string> regex;
  std::optional<std::string> minSize;
  std::vector<std::string> types;
  bool ignoreCase = false;
  bool json = false;
  bool print0 = false;
  vantel::WalkChoices walk;
  vantel::ScannerTuning tuning;
};

int runSearch(const SearchOptions& options) {
  for (const auto& path : options.paths) {
    if (path.empty()) {
      fmt::print(stderr, "vantel: PATH must not be empty\n");
      return vantel::kExitUsage;
    }
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
  vantelkit::DiskMapSearch::Filter filters;
  filters.nameContains = adjusted.nameContains;
  filters.extension = adjusted.extension;
  filters.ignoreCase = options.ignoreCase;
  filters.minimumSize = minSize;
  using NodeType = FileNode::NodeType;
  for (const auto& type : options.types) {
    if (type == "file") {
      filters.types.push_back(NodeType::file);
    } else if (type == "folder" || type == "directory") {
      filters.types.push_back(NodeType::directory);
    } else if (type == "link") {
      filters.types.push_back(NodeType::link);
    } else {
      // Whatever is neither a file, a folder nor a link: devices, sockets, pipes.
      for (auto other : {NodeType::none, NodeType::block, NodeType::character, NodeType::socket, NodeType::fifo,
                         NodeType::bad, NodeType::string, NodeType::complex})
        filters.types.push_back(other);
    }
  }
  filters.glob = options.glob;
  filters.regex = options.regex;
  auto made = vantelkit::DiskMapSearch::make(std::move(filters));
  if (!made) {
    fmt::print(stderr, "vantel: --regex: {}\n", made.error()->localizedDescription());
    return vantel::kExitUsage;
  }
  const vantelkit::DiskMapSearch filter = std::move(*made);
  vantel::ScanRun run(options.tuning, options.walk, [](const vantelkit::DiskScanner& scanner) {
    return vantel::countOf(scanner.countedEntries(), "match", "matches");
  });
  if (!run.ready()) return vantel::kExitUsage;
  // Bundles included. Files' statuses are read only when a size is wanted: names and types
  // come with the listing.
  const bool sizes = options.json || minSize.has_value();

  std::optional<vantelkit::JsonWriter> json;
  if (options.json) {
    json.emplace(vantel::standardOutputSink());
    json->beginObject();
    json->key("version");
    json->value(std::int64_t{1});
    // One PATH keeps the document's original "path"; several are listed as given.
    if (options.paths.size() == 1) {
      json->key("path");
      json->value(options.paths.front());
    } else {
      json->key("paths");
      json->beginArray();
      for (const auto& path : options.paths) json->value(path);
      json->endArray();
    }
    json->key("matches");
    json->beginArray();
  }
  std::int64_t filesScanned = 0;
  std::int64_t unreadable = 0;
  int status = vantel::kExitSuccess;
  // Each PATH in turn, its matches sorted by path (so that two runs over the same files
  // print the same text), then what could not be read below it.
  for (const auto& path : options.paths) {
    auto target = vantel::resolveScanTarget(path);
    if (!target) {
      status = vantel::kExitFailure;
      continue;
    }
    vantelkit::DiskScanner::MapChoices choices;
    choices.fileSizes = sizes;
    choices.namesInOrder = true;
    // Matches so far, for the progress line.
    if (run.showsProgress()) choices.counted = [&filter](const DiskMap::Entry& entry) { return filter.matches(entry); };
    auto map = run.runMap(*target, {.searchBundles = true, .choices = std::move(choices)});
    const std::string root = target->displayPath(map->rootPath());
    if (json) {
      filter.forEachMatch(*map, root, [&json, &map](Index index, const std::string& matchPath) {
        const auto& entry = (*map)[index];
        json->beginObject();
        json->key("path");
        json->value(matchPath);
        json->key("size");
        if (entry.hasMark(FileNode::unreadable) && !entry.isDirectory()) {
          json->null();
        } else {
          json->value(vantelkit::DiskMapSearch::ownSize(entry));
        }
        json->key("type");
        json->value(FileNode::nodeTypeName(entry.nodeType()));
        if (entry.hasMark(FileNode::unreadable)) {
          json->key("error");
          json->value(vantelkit::platform::errorDescription(entry.error));
        }
        json->endObject();
      });
      filesScanned += map->totalFilesScanned();
      unreadable += static_cast<std::int64_t>(map->unreadableCount());
    } else {
      std::string out;
      out.reserve(1 << 17);
      filter.forEachMatch(*map, root, [&out, &options](Index, const std::string& matchPath) {
        if (options.print0) {
          out += matchPath;
          out += '\0';
        } else {
          vantel::appendEscapedForTerminal(out, matchPath);
          out += '\n';
        }
        if (out.size() >= (1 << 16)) {
          std::fwrite(out.data(), 1, out.size(), stdout);
          out.clear();
        }
      });
      std::fwrite(out.data(), 1, out.size(), stdout);
    }
    status = std::max(status, vantel::reportScanProblems(*target, map->unreadableEntries(), false));
    // Ctrl-C ends the whole search, not only this PATH.
    if (run.interrupted()) break;
  }
  if (json) {
    json->endArray();
    // Every entry the scans found was asked, so both counts agree.
    json->key("evaluated");
    json->value(filesScanned);
    json->key("filesScanned");
    json->value(filesScanned);
    json->key("unreadable");
    json->value(unreadable);
    json->key("complete");
    json->value(!run.interrupted());
    json->endObject();
    json->endDocument();
  }
  return vantel::reportInterruption(run.interrupted(), status);
}

vantel::CommandRegistration registration{"search", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SearchOptions>();
  auto* command = app.add_subcommand("search", "Find the files and folders below a folder that pass every filter");
  command->add_option("PATH", options->paths,
                      "Folders to search, each in turn, bundles included (a link given here is followed)")
      ->required();
  command->add_option("--name-contains", options->nameContains, "Name contains TEXT")->type_name("TEXT");
  command->add_option("--extension", options->extension,
                      "Name ends with .EXT, in any case (a leading dot is allowed; compound ones like tar.gz too)")
      ->type_name("EXT");
  command->add_option("-g,--glob", options->glob,
                      "Whole name matches the shell PATTERN (*, ? for one byte, [...])")
      ->type_name("PATTERN");
  command->add_option("--regex", options->regex, "Name contains a match of the regular expression PATTERN (PCRE)")
      ->type_name("PATTERN");
  command->add_flag("-i,--ignore-case", options->ignoreCase,
                    "--name-contains, --glob and --regex ignore case (Unicode case folding)");
  command->add_option("--min-size", options->minSize,
                      "Size of at least SIZE: bytes, or with K, M, G, T (1000s) or KiB, MiB, GiB, TiB (1024s); "
                      "folders count as 0")
      ->type_name("SIZE");
  command->add_option("--type", options->types,
                      "Only entries of this type; repeat it for several (directory is folder; link is a symbolic "
                      "link, never followed; other is a device, pipe or socket)")
      ->check(CLI::IsMember({"file", "folder", "directory", "link", "other"}))
      ->type_name("TYPE");
  command->add_flag("--json", options->json, "Machine-readable output, sorted by path");
  command->add_flag("-0,--print0", options->print0, "Paths as they are, each ended by a NUL byte (for xargs -0)");
  options->walk.addOptions(*command);
  options->tuning.addOptions(*command);
  command->callback([options, &exitCode] { exitCode = runSearch(*options); });
}};

}  // namespace

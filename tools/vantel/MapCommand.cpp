// vantel map PATH: the disk map of a folder, as a tree of the largest entries, as JSON, or
// exported for ncdu; or the same for a map read back with --import.
#include <fmt/core.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unordered_map>

#include "Command.h"
#include "HtmlReport.h"
#include "JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/Version.h"
#include "vantelkit/diskmap/DiskMapImport.h"
#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/platform/FileStatus.h"

namespace {

using vantelkit::DiskMap;
using vantelkit::FileNode;
using Index = DiskMap::Index;
using Entry = DiskMap::Entry;

struct MapOptions {
  std::string path;
  std::optional<std::string> depthLimit;
  std::optional<std::string> maxDepth;
  std::optional<std::string> top;
  bool searchBundles = false;  // accepted for older scripts: bundles are read by default
  bool bundlesAsLeaves = false;
  bool json = false;
  bool diskUsage = false;
  std::string exportFile;
  std::string importFile;
  std::string htmlFile;
  vantel::WalkChoices walk;
  vantel::ScannerTuning tuning;
};

// How the tree is shown, whatever its source.
struct View {
  explicit View(const DiskMap& shown) : map(shown) {}
  const DiskMap& map;
  bool bundlesAsLeaves = false;
  bool diskUsage = false;
  std::int64_t top = 10;
  std::optional<std::int64_t> maxDepth;  // levels shown below the root
  std::unordered_map<Index, const DiskMap::HardLink*> links;

  // Whether index's children are shown at level (the root's children being level 1).
  bool showsChildrenOf(Index index, std::int64_t level) const {
    if (maxDepth && level > *maxDepth) return false;
    if (bundlesAsLeaves && index != DiskMap::rootIndex && vantelkit::DiskScanner::isBundleName(map[index].nameView()))
      return false;
    return true;
  }
  std::int64_t measure(const Entry& entry) const { return diskUsage ? entry.usage : entry.size; }
  // A file whose status could not be read has no known size.
  static bool sizeUnknown(const Entry& entry) { return entry.hasMark(FileNode::unreadable) && !entry.isDirectory(); }
  const DiskMap::HardLink* linkOf(Index index) const {
    if (links.empty() || !map[index].hasMark(FileNode::hardLink)) return nullptr;
    auto found = links.find(index);
    return found == links.end() ? nullptr : found->second;
  }
};

std::string errorText(const Entry& entry) {
  return entry.error != 0 ? vantelkit::platform::errorDescription(entry.error) : std::string("could not be read");
}

const char* excludedReason(const Entry& entry) {
  if (entry.hasMark(FileNode::otherFileSystem)) return "otherfs";
  if (entry.hasMark(FileNode::pseudoFileSystem)) return "kernfs";
  if (entry.hasMark(FileNode::cacheFolder)) return "cachedir";
  return nullptr;
}

// The children of a folder sorted by name (bytes).
std::vector<Index> byName(const DiskMap& map, Index folder) {
  const Entry& entry = map[folder];
  std::vector<Index> children(entry.childCount);
  for (Index i = 0; i < entry.childCount; ++i) children[i] = entry.firstChild + i;
  if (!map.namesInOrder()) {
    std::sort(children.begin(), children.end(),
              [&map](Index a, Index b) { return std::strcmp(map[a].name, map[b].name) < 0; });
  }
  return children;
}

// The tree as {"name", "size", "usage", "type", ..., "children"}, written without recursion
// so that any depth of tree is fine. Children are sorted by name.
void writeTree(vantel::JsonWriter& json, const View& view) {
  const DiskMap& map = view.map;
  struct Frame {
    std::vector<Index> children;
    std::size_t next;
  };
  auto open = [&json, &view, &map](Index index, std::int64_t level) {
    const Entry& entry = map[index];
    if (!entry.isDirectory() && entry.marks == 0) {
      // Most entries are plain files: written as one piece.
      std::string& out = json.rawValueBuffer();
      out += "{\"name\":";
      vantel::JsonWriter::appendQuoted(out, entry.nameView());
      out += ",\"size\":";
      vantel::JsonWriter::appendNumber(out, entry.size);
      out += ",\"usage\":";
      vantel::JsonWriter::appendNumber(out, entry.usage);
      out += ",\"type\":\"file\"}";
      json.rawValueDone();
      return false;
    }
    json.beginObject();
    json.key("name");
    json.value(entry.nameView());
    json.key("size");
    if (View::sizeUnknown(entry)) {
      json.null();
    } else {
      json.value(entry.size);
    }
    json.key("usage");
    if (View::sizeUnknown(entry)) {
      json.null();
    } else {
      json.value(entry.usage);
    }
    json.key("type");
    bool directory = entry.isDirectory();
    json.value(directory ? "directory" : "file");
    if (entry.hasMark(FileNode::unreadable)) {
      json.key("error");
      json.value(errorText(entry));
    }
    if (const char* reason = excludedReason(entry)) {
      json.key("excluded");
      json.value(reason);
    }
    if (const auto* link = view.linkOf(index)) {
      json.key("links");
      json.value(static_cast<std::int64_t>(link->linkCount));
      json.key("device");
      json.value(static_cast<std::int64_t>(link->device));
      json.key("inode");
      json.value(static_cast<std::int64_t>(link->inode));
      if (entry.hasMark(FileNode::duplicateLink)) {
        json.key("counted");
        json.value(false);
      }
    }
    if (!directory) {
      json.endObject();
      return false;
    }
    json.key("children");
    json.beginArray();
    if (!view.showsChildrenOf(index, level + 1)) {
      json.endArray();
      json.endObject();
      return false;
    }
    return true;
  };
  std::vector<Frame> stack;
  if (open(DiskMap::rootIndex, 0)) stack.push_back({byName(map, DiskMap::rootIndex), 0});
  while (!stack.empty()) {
    auto& frame = stack.back();
    if (frame.next == frame.children.size()) {
      json.endArray();
      json.endObject();
      stack.pop_back();
      continue;
    }
    Index child = frame.children[frame.next++];
    auto level = static_cast<std::int64_t>(stack.size());
    if (open(child, level)) stack.push_back({byName(map, child), 0});
  }
}

// ncdu's export format, version 1.2: [1, 2, {metadata}, DIR] where DIR is [{info}, entry...]
// and a file entry is {info}.
void writeNcduExport(vantel::JsonWriter& json, const std::string& rootPath, const View& view) {
  const DiskMap& map = view.map;
  json.beginArray();
  json.value(std::int64_t{1});
  json.value(std::int64_t{2});
  json.beginObject();
  json.key("progname");
  json.value("vantel");
  json.key("progver");
  json.value(VANTELKIT_VERSION_STRING);
  json.key("timestamp");
  json.value(static_cast<std::int64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count()));
  json.endObject();

  auto info = [&json, &view, &map](Index index, std::string_view name, bool directory) {
    const Entry& entry = map[index];
    json.beginObject();
    json.key("name");
    json.value(name);
    if (!directory && !View::sizeUnknown(entry)) {
      json.key("asize");
      json.value(entry.size);
      json.key("dsize");
      json.value(entry.usage);
    }
    if (const auto* link = view.linkOf(index)) {
      json.key("dev");
      json.value(static_cast<std::int64_t>(link->device));
      json.key("ino");
      json.value(static_cast<std::int64_t>(link->inode));
      json.key("nlink");
      json.value(static_cast<std::int64_t>(link->linkCount));
      json.key("hlnkc");
      json.value(true);
    }
    if (entry.hasMark(FileNode::unreadable)) {
      json.key("read_error");
      json.value(true);
    }
    if (const char* reason = excludedReason(entry)) {
      json.key("excluded");
      json.value(std::string_view(reason) == "cachedir" ? "pattern" : reason);
    }
    json.endObject();
  };
  struct Frame {
    std::vector<Index> children;
    std::size_t next;
  };
  std::vector<Frame> stack;
  json.beginArray();
  info(DiskMap::rootIndex, rootPath, true);
  stack.push_back({byName(map, DiskMap::rootIndex), 0});
  while (!stack.empty()) {
    auto& frame = stack.back();
    if (frame.next == frame.children.size()) {
      json.endArray();
      stack.pop_back();
      continue;
    }
    Index child = frame.children[frame.next++];
    const Entry& entry = map[child];
    if (entry.isDirectory()) {
      json.beginArray();
      info(child, entry.nameView(), true);
      auto level = static_cast<std::int64_t>(stack.size());
      stack.push_back({view.showsChildrenOf(child, level + 1) ? byName(map, child) : std::vector<Index>{}, 0});
    } else {
      info(child, entry.nameView(), false);
    }
  }
  json.endArray();
}

char markOf(const Entry& entry) {
  if (entry.hasMark(FileNode::unreadable)) return '!';
  if (entry.hasMark(FileNode::otherFileSystem)) return '>';
  if (entry.hasMark(FileNode::pseudoFileSystem)) return '^';
  if (entry.hasMark(FileNode::cacheFolder)) return '<';
  return 0;
}

void printTree(std::string& out, const View& view) {
  const DiskMap& map = view.map;
  struct Frame {
    std::vector<Index> children;
    std::size_t next;
    std::size_t shown;
  };
  auto largestFirst = [&view, &map](Index folder) {
    std::vector<Index> children = byName(map, folder);
    std::stable_sort(children.begin(), children.end(),
                     [&view, &map](Index a, Index b) { return view.measure(map[a]) > view.measure(map[b]); });
    return children;
  };
  auto shownOf = [&view](std::size_t count) { return std::min<std::size_t>(count, static_cast<std::size_t>(view.top)); };
  std::vector<Frame> stack;
  if (view.showsChildrenOf(DiskMap::rootIndex, 1)) {
    auto children = largestFirst(DiskMap::rootIndex);
    auto shown = shownOf(children.size());
    stack.push_back({std::move(children), 0, shown});
  }
  while (!stack.empty()) {
    auto& frame = stack.back();
    std::string indent(stack.size() * 2, ' ');
    if (frame.next == frame.shown) {
      if (frame.children.size() > frame.shown)
        out += fmt::format("{}{:>10}  ({} more)\n", indent, "", frame.children.size() - frame.shown);
      stack.pop_back();
      continue;
    }
    Index index = frame.children[frame.next++];
    const Entry& child = map[index];
    bool directory = child.isDirectory();
    char mark = markOf(child);
    out += fmt::format("{}{:>10}  {}{}{}\n", indent,
                       View::sizeUnknown(child) ? std::string("?") : vantel::formatBytes(view.measure(child)),
                       mark ? std::string(1, mark) : std::string(), vantel::escapedForTerminal(child.nameView()),
                       directory ? "/" : "");
    auto level = static_cast<std::int64_t>(stack.size()) + 1;
    if (directory && child.childCount > 0 && view.showsChildrenOf(index, level)) {
      auto children = largestFirst(index);
      auto shown = shownOf(children.size());
      stack.push_back({std::move(children), 0, shown});
    }
    if (out.size() >= (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
}

bool writeExport(const std::string& file, const std::string& rootPath, const View& view) {
  std::FILE* out = file == "-" ? stdout : std::fopen(file.c_str(), "wb");
  if (!out) {
    fmt::print(stderr, "vantel: cannot write {}: {}\n", vantel::escapedForTerminal(file),
               vantelkit::platform::errorDescription(vantelkit::platform::lastErrorNumber()));
    return false;
  }
  bool written;
  int error = 0;
  {
    vantel::JsonWriter json(out);
    writeNcduExport(json, rootPath, view);
    written = json.endDocument();
    error = json.error();
  }
  if (out != stdout && std::fclose(out) != 0 && written) {
    written = false;
    error = vantelkit::platform::lastErrorNumber();
  }
  // A failed write to stdout is said once, by the tool's closing check.
  if (!written && out != stdout) {
    fmt::print(stderr, "vantel: cannot write {}: {}\n", vantel::escapedForTerminal(file),
               vantelkit::platform::errorDescription(error));
  }
  return written;
}

// The map's children in name order, as every output shows them.
vantelkit::DiskScanner::MapChoices namesInOrder() {
  vantelkit::DiskScanner::MapChoices choices;
  choices.namesInOrder = true;
  return choices;
}

int runMap(const MapOptions& options) {
  std::optional<std::int64_t> depthLimit, top, maxDepth;
  if (!vantel::numberOption(options.depthLimit, "--depth-limit", 1, depthLimit) ||
      !vantel::numberOption(options.top, "--top", 0, top) ||
      !vantel::numberOption(options.maxDepth, "--max-depth", 0, maxDepth))
    return vantel::kExitUsage;
  if (options.json && !options.exportFile.empty()) {
    fmt::print(stderr, "vantel: --json and --export cannot be used together\n");
    return vantel::kExitUsage;
  }
  if (!options.htmlFile.empty() && (options.json || !options.exportFile.empty())) {
    fmt::print(stderr, "vantel: --html cannot be used with --json or --export\n");
    return vantel::kExitUsage;
  }
  if (!options.htmlFile.empty() && !vantel::htmlReportAvailable()) {
    fmt::print(stderr, "vantel: this build has no HTML report (d3-hierarchy was not found when it was built)\n");
    return vantel::kExitFailure;
  }
  const bool importing = !options.importFile.empty();
  if (importing == !options.path.empty()) {
    fmt::print(stderr, "vantel: {}\n", importing ? "give PATH or --import FILE, not both" : "PATH must not be empty");
    return vantel::kExitUsage;
  }

  std::shared_ptr<DiskMap> map;
  std::optional<vantel::ScanTarget> target;
  bool interrupted = false;
  if (importing) {
    std::string text;
    if (options.importFile == "-") {
      std::ostringstream buffer;
      buffer << std::cin.rdbuf();
      text = buffer.str();
    } else {
      std::ifstream in(options.importFile, std::ios::binary);
      if (!in) {
        fmt::print(stderr, "vantel: cannot read {}: {}\n", vantel::escapedForTerminal(options.importFile),
                   vantelkit::platform::errorDescription(vantelkit::platform::lastErrorNumber()));
        return vantel::kExitFailure;
      }
      std::ostringstream buffer;
      buffer << in.rdbuf();
      text = buffer.str();
    }
    auto imported = vantelkit::DiskMapImport::read(text);
    if (auto* error = std::get_if<vantelkit::DiskMapImport::Error>(&imported)) {
      fmt::print(stderr, "vantel: {}:{}:{}: {}\n", vantel::escapedForTerminal(options.importFile), error->line,
                 error->column, error->message);
      return vantel::kExitFailure;
    }
    auto result = std::get<std::shared_ptr<vantelkit::DiskScanResult>>(imported);
    map = DiskMap::fromTree(*result->root(), result.get());
    auto rootPath = result->root()->url().path();
    target = vantel::ScanTarget{result->root()->url(), rootPath, rootPath};
  } else {
    target = vantel::resolveScanTarget(options.path);
    if (!target) return vantel::kExitFailure;
    vantel::ScanRun run(options.tuning, options.walk);
    if (!run.ready()) return vantel::kExitUsage;
    vantelkit::DiskScanner::MapRequest request{.searchBundles = true, .choices = namesInOrder()};
    if (depthLimit) request.depthLimit = static_cast<int>(std::min<std::int64_t>(*depthLimit, 1 << 20));
    map = run.runMap(*target, std::move(request));
    interrupted = run.interrupted();
  }
  const DiskMap& result = *map;
  View view(result);
  view.bundlesAsLeaves = options.bundlesAsLeaves;
  view.diskUsage = options.diskUsage;
  if (top) view.top = *top;
  for (const auto& link : result.hardLinks()) view.links[link.entry] = &link;

  if (!options.htmlFile.empty()) {
    if (!vantel::writeHtmlReport(options.htmlFile, result, target->path)) return vantel::kExitFailure;
  } else if (!options.exportFile.empty()) {
    view.maxDepth = maxDepth;
    if (!writeExport(options.exportFile, result.rootPath(), view)) return vantel::kExitFailure;
  } else if (options.json) {
    view.maxDepth = maxDepth;
    vantel::JsonWriter json(stdout);
    json.beginObject();
    json.key("version");
    json.value(std::int64_t{1});
    json.key("path");
    json.value(target->path);
    json.key("size");
    json.value(result.totalSize());
    json.key("usage");
    json.value(result.totalUsage());
    json.key("filesScanned");
    json.value(result.totalFilesScanned());
    json.key("hardLinks");
    json.value(result.hardLinksCountedOnce() ? "counted once" : "each link counted");
    json.key("unreadable");
    json.value(static_cast<std::int64_t>(result.unreadableCount()));
    json.key("complete");
    json.value(!interrupted);
    json.key("elapsed");
    json.value(result.elapsed());
    json.key("root");
    writeTree(json, view);
    json.endObject();
    json.endDocument();
  } else {
    view.maxDepth = maxDepth ? maxDepth : std::optional<std::int64_t>(3);
    std::string out = fmt::format("{:>10}  {}  ({}, {:.2f} s{})\n",
                                  vantel::formatBytes(options.diskUsage ? result.totalUsage() : result.totalSize()),
                                  vantel::escapedForTerminal(target->path), vantel::entriesText(result.totalFilesScanned()),
                                  result.elapsed(),
                                  depthLimit ? fmt::format(", scan limited to {} levels", *depthLimit) : "");
    printTree(out, view);
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return vantel::reportScanProblems(*target, result.unreadableEntries(), interrupted);
}

vantel::CommandRegistration registration{"map", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<MapOptions>();
  auto* command = app.add_subcommand("map", "Disk map of a folder: a size tree of everything below it");
  command->add_option("PATH", options->path, "Folder to map (a link given here is followed)");
  command->add_option("--import", options->importFile,
                      "Show a map read from FILE (an ncdu export or this command's --json output; - for stdin) "
                      "instead of scanning")
      ->type_name("FILE");
  command->add_option("--max-depth", options->maxDepth,
                      "Levels shown below the folder, with full sizes (default 3 in the tree, all in JSON and export)")
      ->type_name("N");
  command->add_option("--show-depth", options->maxDepth, "Same as --max-depth")->group("");
  command->add_option("--depth-limit", options->depthLimit,
                      "Scan only N levels of folders, PATH being 1: deeper folders are not read and their sizes "
                      "are not counted (sizes are then lower than on disk; see --max-depth)")
      ->type_name("N");
  command->add_option("--top", options->top, "Largest entries shown per folder (default 10)")->type_name("N");
  command->add_flag("--disk-usage", options->diskUsage,
                    "Sort and print by bytes allocated on disk instead of logical size");
  command->add_flag("--bundles-as-leaves", options->bundlesAsLeaves,
                    "Show .app and .kext bundles as single entries (their sizes still count)");
  command->add_flag("--search-bundles", options->searchBundles, "Read bundles (the default)")->group("");
  command->add_flag("--json", options->json, "The whole tree as JSON on stdout");
  command->add_option("--export", options->exportFile, "Write the tree in ncdu's export format to FILE (- for stdout)")
      ->type_name("FILE");
  command->add_option("--html", options->htmlFile,
                      "Write the map as one self-contained HTML treemap to FILE (- for stdout); it opens offline "
                      "in any browser")
      ->type_name("FILE");
  options->walk.addOptions(*command);
  options->tuning.addOptions(*command);
  command->callback([options, &exitCode] { exitCode = runMap(*options); });
}};

}  // namespace

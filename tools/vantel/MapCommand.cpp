// vantel map PATH: the disk map of a folder, as a tree of the largest entries, as JSON, or
// exported for ncdu; or the same for a map read back with --import.
#include <fmt/core.h>

#include <algorithm>
#include <chrono>
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
#include "vantelkit/diskmap/DiskScanner.h"
#include "vantelkit/platform/FileStatus.h"

namespace {

using vantelkit::FileNode;
using Node = std::shared_ptr<FileNode>;

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
  bool bundlesAsLeaves = false;
  bool diskUsage = false;
  std::int64_t top = 10;
  std::optional<std::int64_t> maxDepth;  // levels shown below the root
  std::unordered_map<const FileNode*, std::uint32_t> linkCounts;
  std::unordered_map<const FileNode*, std::pair<std::uint64_t, std::uint64_t>> identities;  // device, inode

  bool isDirectory(const FileNode& node) const { return node.type() == FileNode::NodeType::directory; }
  // Whether node's children are shown at level (the root's children being level 1).
  bool showsChildrenOf(const FileNode& node, std::int64_t level) const {
    if (maxDepth && level > *maxDepth) return false;
    if (bundlesAsLeaves && node.parent() && vantelkit::DiskScanner::isBundleName(node.name())) return false;
    return true;
  }
  std::int64_t measure(const FileNode& node) const { return diskUsage ? node.usage() : node.size(); }
  // A file whose status could not be read has no known size.
  static bool sizeUnknown(const FileNode& node) {
    return node.hasMark(FileNode::unreadable) && node.type() == FileNode::NodeType::file;
  }
};

std::string errorText(const FileNode& node) {
  return node.error() != 0 ? vantelkit::platform::errorDescription(node.error()) : std::string("could not be read");
}

const char* excludedReason(const FileNode& node) {
  if (node.hasMark(FileNode::otherFileSystem)) return "otherfs";
  if (node.hasMark(FileNode::pseudoFileSystem)) return "kernfs";
  if (node.hasMark(FileNode::cacheFolder)) return "cachedir";
  return nullptr;
}

std::vector<const FileNode*> byName(const FileNode& node) {
  std::vector<const FileNode*> children;
  children.reserve(node.children().size());
  for (const auto& child : node.children()) children.push_back(child.get());
  std::sort(children.begin(), children.end(), [](const FileNode* a, const FileNode* b) { return a->name() < b->name(); });
  return children;
}

// The tree as {"name", "size", "usage", "type", ..., "children"}, written without recursion
// so that any depth of tree is fine. Children are sorted by name.
void writeTree(vantel::JsonWriter& json, const FileNode& root, const std::string& rootName, const View& view) {
  struct Frame {
    std::vector<const FileNode*> children;
    std::size_t next;
  };
  auto open = [&json, &view](const FileNode& node, std::string_view name, std::int64_t level) {
    json.beginObject();
    json.key("name");
    json.value(name);
    json.key("size");
    if (View::sizeUnknown(node)) {
      json.null();
    } else {
      json.value(node.size());
    }
    json.key("usage");
    if (View::sizeUnknown(node)) {
      json.null();
    } else {
      json.value(node.usage());
    }
    json.key("type");
    bool directory = view.isDirectory(node);
    json.value(directory ? "directory" : "file");
    if (node.hasMark(FileNode::unreadable)) {
      json.key("error");
      json.value(errorText(node));
    }
    if (const char* reason = excludedReason(node)) {
      json.key("excluded");
      json.value(reason);
    }
    if (auto links = view.linkCounts.find(&node); links != view.linkCounts.end()) {
      json.key("links");
      json.value(static_cast<std::int64_t>(links->second));
      const auto& [device, inode] = view.identities.at(&node);
      json.key("device");
      json.value(static_cast<std::int64_t>(device));
      json.key("inode");
      json.value(static_cast<std::int64_t>(inode));
      if (node.hasMark(FileNode::duplicateLink)) {
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
    if (!view.showsChildrenOf(node, level + 1)) {
      json.endArray();
      json.endObject();
      return false;
    }
    return true;
  };
  std::vector<Frame> stack;
  if (open(root, rootName, 0)) stack.push_back({byName(root), 0});
  while (!stack.empty()) {
    auto& frame = stack.back();
    if (frame.next == frame.children.size()) {
      json.endArray();
      json.endObject();
      stack.pop_back();
      continue;
    }
    const FileNode& child = *frame.children[frame.next++];
    auto level = static_cast<std::int64_t>(stack.size());
    if (open(child, child.name(), level)) stack.push_back({byName(child), 0});
  }
}

// ncdu's export format, version 1.2: [1, 2, {metadata}, DIR] where DIR is [{info}, entry...]
// and a file entry is {info}.
void writeNcduExport(vantel::JsonWriter& json, const FileNode& root, const std::string& rootPath, const View& view) {
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

  auto info = [&json, &view](const FileNode& node, std::string_view name, bool directory) {
    json.beginObject();
    json.key("name");
    json.value(name);
    if (!directory && !View::sizeUnknown(node)) {
      json.key("asize");
      json.value(node.size());
      json.key("dsize");
      json.value(node.usage());
    }
    if (auto links = view.linkCounts.find(&node); links != view.linkCounts.end()) {
      const auto& [device, inode] = view.identities.at(&node);
      json.key("dev");
      json.value(static_cast<std::int64_t>(device));
      json.key("ino");
      json.value(static_cast<std::int64_t>(inode));
      json.key("nlink");
      json.value(static_cast<std::int64_t>(links->second));
      json.key("hlnkc");
      json.value(true);
    }
    if (node.hasMark(FileNode::unreadable)) {
      json.key("read_error");
      json.value(true);
    }
    if (const char* reason = excludedReason(node)) {
      json.key("excluded");
      json.value(std::string_view(reason) == "cachedir" ? "pattern" : reason);
    }
    json.endObject();
  };
  struct Frame {
    std::vector<const FileNode*> children;
    std::size_t next;
  };
  std::vector<Frame> stack;
  json.beginArray();
  info(root, rootPath, true);
  stack.push_back({byName(root), 0});
  while (!stack.empty()) {
    auto& frame = stack.back();
    if (frame.next == frame.children.size()) {
      json.endArray();
      stack.pop_back();
      continue;
    }
    const FileNode& child = *frame.children[frame.next++];
    if (view.isDirectory(child)) {
      json.beginArray();
      info(child, child.name(), true);
      auto level = static_cast<std::int64_t>(stack.size());
      stack.push_back({view.showsChildrenOf(child, level + 1) ? byName(child) : std::vector<const FileNode*>{}, 0});
    } else {
      info(child, child.name(), false);
    }
  }
  json.endArray();
}

char markOf(const FileNode& node) {
  if (node.hasMark(FileNode::unreadable)) return '!';
  if (node.hasMark(FileNode::otherFileSystem)) return '>';
  if (node.hasMark(FileNode::pseudoFileSystem)) return '^';
  if (node.hasMark(FileNode::cacheFolder)) return '<';
  return 0;
}

void printTree(std::string& out, const FileNode& root, const View& view) {
  struct Frame {
    std::vector<const FileNode*> children;
    std::size_t next;
    std::size_t shown;
  };
  auto largestFirst = [&view](const FileNode& node) {
    std::vector<const FileNode*> children;
    for (const auto& child : node.children()) children.push_back(child.get());
    std::sort(children.begin(), children.end(), [&view](const FileNode* a, const FileNode* b) {
      auto x = view.measure(*a), y = view.measure(*b);
      return x != y ? x > y : a->name() < b->name();
    });
    return children;
  };
  auto shownOf = [&view](std::size_t count) { return std::min<std::size_t>(count, static_cast<std::size_t>(view.top)); };
  std::vector<Frame> stack;
  if (view.showsChildrenOf(root, 1)) {
    auto children = largestFirst(root);
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
    const FileNode& child = *frame.children[frame.next++];
    bool directory = view.isDirectory(child);
    char mark = markOf(child);
    out += fmt::format("{}{:>10}  {}{}{}\n", indent,
                       View::sizeUnknown(child) ? std::string("?") : vantel::formatBytes(view.measure(child)),
                       mark ? std::string(1, mark) : std::string(), vantel::escapedForTerminal(child.name()),
                       directory ? "/" : "");
    auto level = static_cast<std::int64_t>(stack.size()) + 1;
    if (directory && !child.children().empty() && view.showsChildrenOf(child, level)) {
      auto children = largestFirst(child);
      auto shown = shownOf(children.size());
      stack.push_back({std::move(children), 0, shown});
    }
    if (out.size() >= (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
}

bool writeExport(const std::string& file, const FileNode& root, const std::string& rootPath, const View& view) {
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
    writeNcduExport(json, root, rootPath, view);
    written = json.endDocument();
    error = json.error();
  }
  if (out != stdout && std::fclose(out) != 0 && written) {
    written = false;
    error = vantelkit::platform::lastErrorNumber();
  }
  if (!written) {
    fmt::print(stderr, "vantel: cannot write {}: {}\n", vantel::escapedForTerminal(file),
               vantelkit::platform::errorDescription(error));
  }
  return written;
}

int runMap(const MapOptions& options) {
  View view;
  view.bundlesAsLeaves = options.bundlesAsLeaves;
  view.diskUsage = options.diskUsage;
  std::optional<std::int64_t> depthLimit, top, maxDepth;
  if (!vantel::numberOption(options.depthLimit, "--depth-limit", 1, depthLimit) ||
      !vantel::numberOption(options.top, "--top", 0, top) ||
      !vantel::numberOption(options.maxDepth, "--max-depth", 0, maxDepth))
    return vantel::kExitUsage;
  if (top) view.top = *top;
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

  std::shared_ptr<vantelkit::DiskScanResult> result;
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
    result = std::get<std::shared_ptr<vantelkit::DiskScanResult>>(imported);
    auto rootPath = result->root()->url().path();
    target = vantel::ScanTarget{result->root()->url(), rootPath, rootPath};
  } else {
    target = vantel::resolveScanTarget(options.path);
    if (!target) return vantel::kExitFailure;
    vantel::ScanRun run(options.tuning, options.walk);
    if (!run.ready()) return vantel::kExitUsage;
    result = run.run(*target, {}, true, true,
                     depthLimit ? std::optional<int>(static_cast<int>(std::min<std::int64_t>(*depthLimit, 1 << 20)))
                                : std::nullopt);
    interrupted = run.interrupted();
  }
  const auto& root = *result->root();
  for (const auto& link : result->hardLinks()) {
    view.linkCounts[link.node.get()] = link.linkCount;
    view.identities[link.node.get()] = {link.device, link.inode};
  }

  if (!options.htmlFile.empty()) {
    if (!vantel::writeHtmlReport(options.htmlFile, *result, target->path)) return vantel::kExitFailure;
  } else if (!options.exportFile.empty()) {
    view.maxDepth = maxDepth;
    if (!writeExport(options.exportFile, root, root.url().path(), view)) return vantel::kExitFailure;
  } else if (options.json) {
    view.maxDepth = maxDepth;
    vantel::JsonWriter json(stdout);
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
    json.value(!interrupted);
    json.key("elapsed");
    json.value(result->elapsed());
    json.key("root");
    writeTree(json, root, root.name(), view);
    json.endObject();
    json.endDocument();
  } else {
    view.maxDepth = maxDepth ? maxDepth : std::optional<std::int64_t>(3);
    std::string out = fmt::format("{:>10}  {}  ({}, {:.2f} s{})\n",
                                  vantel::formatBytes(options.diskUsage ? result->totalUsage() : result->totalSize()),
                                  vantel::escapedForTerminal(target->path), vantel::entriesText(result->totalFilesScanned()),
                                  result->elapsed(),
                                  depthLimit ? fmt::format(", scan limited to {} levels", *depthLimit) : "");
    printTree(out, root, view);
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return vantel::reportScanProblems(*target, *result, interrupted);
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

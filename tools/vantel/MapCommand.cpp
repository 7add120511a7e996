// vantel map PATH: the disk map of a folder, as a tree of the largest entries, as JSON, or
// exported for ncdu.
#include <fmt/core.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "Command.h"
#include "JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/Version.h"
#include "vantelkit/diskmap/DiskScanner.h"

namespace {

using vantelkit::FileNode;
using Node = std::shared_ptr<FileNode>;

struct MapOptions {
  std::string path;
  std::optional<int> depthLimit;
  int top = 10;
  int showDepth = 3;
  bool searchBundles = false;
  bool json = false;
  std::string exportFile;
  vantel::ScannerTuning tuning;
};

bool isDirectory(const Node& node) { return node->type() == FileNode::NodeType::directory; }

// The tree as {"name", "size", "type", "children"}, written without recursion so that any
// depth of tree is fine.
void writeTree(vantel::JsonWriter& json, const Node& root, const std::string& rootName) {
  struct Frame {
    const FileNode* node;
    std::size_t next;
  };
  auto open = [&json](const FileNode& node, std::string_view name) {
    json.beginObject();
    json.key("name");
    json.value(name);
    json.key("size");
    json.value(node.size());
    json.key("type");
    bool directory = node.type() == FileNode::NodeType::directory;
    json.value(directory ? "directory" : "file");
    if (!directory) {
      json.endObject();
      return false;
    }
    json.key("children");
    json.beginArray();
    return true;
  };
  std::vector<Frame> stack;
  if (open(*root, rootName)) stack.push_back({root.get(), 0});
  while (!stack.empty()) {
    auto& frame = stack.back();
    const auto& children = frame.node->children();
    if (frame.next == children.size()) {
      json.endArray();
      json.endObject();
      stack.pop_back();
      continue;
    }
    const FileNode& child = *children[frame.next++];
    if (open(child, child.name())) stack.push_back({&child, 0});
  }
}

// ncdu's export format: [1, 1, {metadata}, DIR] where DIR is [{info}, entry...] and a file
// entry is {info}. Sizes are the scan's logical sizes (also given as disk usage).
void writeNcduExport(vantel::JsonWriter& json, const Node& root, const std::string& rootPath) {
  json.beginArray();
  json.value(std::int64_t{1});
  json.value(std::int64_t{1});
  json.beginObject();
  json.key("progname");
  json.value("vantel");
  json.key("progver");
  json.value(VANTELKIT_VERSION_STRING);
  json.key("timestamp");
  json.value(static_cast<std::int64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count()));
  json.endObject();

  auto info = [&json](const FileNode& node, std::string_view name, bool directory) {
    json.beginObject();
    json.key("name");
    json.value(name);
    if (!directory) {
      json.key("asize");
      json.value(node.size());
      json.key("dsize");
      json.value(node.size());
    }
    json.endObject();
  };
  struct Frame {
    const FileNode* node;
    std::size_t next;
  };
  std::vector<Frame> stack;
  json.beginArray();
  info(*root, rootPath, true);
  stack.push_back({root.get(), 0});
  while (!stack.empty()) {
    auto& frame = stack.back();
    const auto& children = frame.node->children();
    if (frame.next == children.size()) {
      json.endArray();
      stack.pop_back();
      continue;
    }
    const FileNode& child = *children[frame.next++];
    if (child.type() == FileNode::NodeType::directory) {
      json.beginArray();
      info(child, child.name(), true);
      stack.push_back({&child, 0});
    } else {
      info(child, child.name(), false);
    }
  }
  json.endArray();
}

void printLevel(const Node& node, int level, const MapOptions& options) {
  if (level >= options.showDepth || node->children().empty()) return;
  std::vector<Node> children = node->children();
  auto shown = std::min<std::size_t>(children.size(), static_cast<std::size_t>(std::max(options.top, 0)));
  std::partial_sort(children.begin(), children.begin() + static_cast<std::ptrdiff_t>(shown), children.end(),
                    [](const Node& a, const Node& b) { return a->size() > b->size(); });
  std::string indent(static_cast<std::size_t>(level) * 2 + 2, ' ');
  for (std::size_t i = 0; i < shown; ++i) {
    const auto& child = children[i];
    fmt::print("{}{:>10}  {}{}\n", indent, vantel::formatBytes(child->size()),
               child->name(), isDirectory(child) ? "/" : "");
    printLevel(child, level + 1, options);
  }
  if (children.size() > shown) fmt::print("{}{:>10}  ({} more)\n", indent, "", children.size() - shown);
}

int runMap(const MapOptions& options) {
  auto target = vantel::resolveScanTarget(options.path);
  if (!target) return vantel::kExitFailure;
  auto scanner = vantelkit::DiskScanner::make();
  if (!options.tuning.apply(*scanner)) return vantel::kExitUsage;
  auto result = scanner->scan(target->url, {}, true, options.searchBundles, options.depthLimit);
  const auto& root = result->root();

  if (!options.exportFile.empty()) {
    std::FILE* out = options.exportFile == "-" ? stdout : std::fopen(options.exportFile.c_str(), "wb");
    if (!out) {
      fmt::print(stderr, "vantel: cannot write {}\n", options.exportFile);
      return vantel::kExitFailure;
    }
    bool written;
    {
      vantel::JsonWriter json(out);
      writeNcduExport(json, root, root->url().path());
      written = json.flush();
    }
    if (out != stdout && std::fclose(out) != 0) written = false;
    if (!written) {
      fmt::print(stderr, "vantel: cannot write {}\n", options.exportFile);
      return vantel::kExitFailure;
    }
    return vantel::kExitSuccess;
  }

  if (options.json) {
    vantel::JsonWriter json(stdout);
    json.beginObject();
    json.key("path");
    json.value(target->path);
    json.key("size");
    json.value(root->size());
    json.key("filesScanned");
    json.value(result->totalFilesScanned());
    json.key("elapsed");
    json.value(result->elapsed());
    json.key("root");
    writeTree(json, root, root->name());
    json.endObject();
    std::fputc('\n', stdout);
    return json.flush() ? vantel::kExitSuccess : vantel::kExitFailure;
  }

  fmt::print("{:>10}  {}  ({} files and folders, {:.2f} s)\n", vantel::formatBytes(root->size()), target->path,
             result->totalFilesScanned(), result->elapsed());
  printLevel(root, 0, options);
  return vantel::kExitSuccess;
}

vantel::CommandRegistration registration{"map", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<MapOptions>();
  auto* command = app.add_subcommand("map", "Disk map of a folder: a size tree of everything below it");
  command->add_option("PATH", options->path, "Folder to map")->required();
  command->add_option("--depth-limit", options->depthLimit, "Directory levels listed, the folder itself being 1")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--top", options->top, "Largest entries shown per folder (default 10)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--show-depth", options->showDepth, "Levels shown below the folder (default 3)")
      ->check(CLI::NonNegativeNumber);
  command->add_flag("--search-bundles", options->searchBundles, "Descend into application and extension bundles");
  command->add_flag("--json", options->json, "The whole tree as JSON on stdout");
  command->add_option("--export", options->exportFile, "Write the tree in ncdu's export format to FILE (- for stdout)");
  options->tuning.addOptions(*command);
  command->callback([options, &exitCode] { exitCode = runMap(*options); });
}};

}  // namespace

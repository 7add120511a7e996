// vantel search PATH [filters]: the files and folders below PATH that pass every filter,
// with live progress on a terminal.
#include <fmt/core.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "Command.h"
#include "JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/DiskMap.h"

namespace {

using vantelkit::DiskMap;
using vantelkit::FileNode;
using Index = DiskMap::Index;

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

// A search reports files' own sizes; folders count as 0.
std::int64_t sizeOf(const DiskMap::Entry& entry) { return entry.isDirectory() ? 0 : entry.size; }

// The filters of a search, asked of each entry of the map.
class Filter {
 public:
  Filter(const SearchOptions& options, std::optional<std::int64_t> minSize) : _fold(options.ignoreCase), _minSize(minSize) {
    if (options.type) _type = *options.type == "directory" ? FileNode::NodeType::directory : FileNode::NodeType::file;
    // A leading dot is allowed; "tar.gz" is matched whole. A name that is only the
    // extension (".gz") has none, as a leading dot starts no extension.
    if (options.extension) _suffix = "." + (_fold ? lowered(*options.extension) : *options.extension);
    if (options.nameContains) _contains = _fold ? lowered(*options.nameContains) : *options.nameContains;
  }

  bool passes(const DiskMap::Entry& entry) const {
    if (_type && entry.nodeType() != *_type) return false;
    std::string_view name = entry.nameView();
    if (_suffix) {
      if (name.size() <= _suffix->size()) return false;
      std::string_view tail = name.substr(name.size() - _suffix->size());
      if (_fold ? lowered(tail) != *_suffix : tail != *_suffix) return false;
    }
    if (_contains && (_fold ? lowered(name) : std::string(name)).find(*_contains) == std::string::npos) return false;
    if (_minSize && sizeOf(entry) < *_minSize) return false;
    return true;
  }

 private:
  bool _fold;
  std::optional<std::int64_t> _minSize;
  std::optional<FileNode::NodeType> _type;
  std::optional<std::string> _suffix;
  std::optional<std::string> _contains;
};

// One place in a folder's order: the entry itself, or (for a folder) everything below it.
struct Slot {
  Index index;
  bool below;
};

// The order of whole paths, within one folder: an entry's own path is its name, the paths
// below a folder all start with its name and "/".
bool slotBefore(const DiskMap& map, const Slot& a, const Slot& b) {
  std::string_view x = map[a.index].nameView(), y = map[b.index].nameView();
  std::size_t common = std::min(x.size(), y.size());
  if (int order = std::memcmp(x.data(), y.data(), common); order != 0) return order < 0;
  auto next = [common](std::string_view name, bool below) -> int {
    if (common < name.size()) return static_cast<unsigned char>(name[common]);
    return below ? '/' : -1;
  };
  return next(x, a.below) < next(y, b.below);
}

// Calls found(index, path) for each entry below the root that passes filter, in the order of
// the paths (as bytes); root is the root's path as shown. Without recursion.
template <class Found>
void visitInPathOrder(const DiskMap& map, const Filter& filter, const std::string& root, Found&& found) {
  struct Frame {
    std::vector<Slot> slots;
    std::size_t next;
    std::size_t pathLength;  // the folder's path, within path
  };
  auto slotsOf = [&map](Index folder) {
    const auto& entry = map[folder];
    std::vector<Slot> slots;
    slots.reserve(entry.childCount);
    for (Index i = 0; i < entry.childCount; ++i) {
      Index child = entry.firstChild + i;
      slots.push_back({child, false});
      if (map[child].childCount > 0) slots.push_back({child, true});
    }
    auto before = [&map](const Slot& a, const Slot& b) { return slotBefore(map, a, b); };
    bool sorted = false;
    if (map.namesInOrder()) {
      // Already in order but for a few names that sort before a folder's "/" (such as
      // "a.txt" before "a/..."): an insertion sort moves only those, within a budget of
      // moves that keeps a folder built to defeat it linear.
      std::size_t budget = 8 * slots.size() + 64;
      sorted = true;
      for (std::size_t i = 1; i < slots.size() && sorted; ++i) {
        for (std::size_t j = i; j > 0 && before(slots[j], slots[j - 1]); --j) {
          std::swap(slots[j], slots[j - 1]);
          if (--budget == 0) {
            sorted = false;
            break;
          }
        }
      }
    }
    if (!sorted) std::sort(slots.begin(), slots.end(), before);
    return slots;
  };
  std::string path = root;
  if (path.empty() || path.back() != '/') path += '/';
  std::vector<Frame> stack;
  stack.push_back({slotsOf(DiskMap::rootIndex), 0, path.size()});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.slots.size()) {
      stack.pop_back();
      continue;
    }
    const Slot slot = frame.slots[frame.next++];
    path.resize(frame.pathLength);
    path += map[slot.index].nameView();
    if (slot.below) {
      path += '/';
      stack.push_back({slotsOf(slot.index), 0, path.size()});
    } else if (filter.passes(map[slot.index])) {
      found(slot.index, path);
    }
  }
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
  Filter filter(adjusted, minSize);
  vantel::ScanRun run(options.tuning, options.walk, [](const vantelkit::DiskScanner& scanner) {
    return vantel::countOf(scanner.countedEntries(), "match", "matches");
  });
  if (!run.ready()) return vantel::kExitUsage;
  // Bundles included. Files' statuses are read only when a size is wanted: names and types
  // come with the listing.
  const bool sizes = options.json || minSize.has_value();
  vantelkit::DiskScanner::MapChoices choices;
  choices.fileSizes = sizes;
  choices.namesInOrder = true;
  // Matches so far, for the progress line.
  if (run.showsProgress()) choices.counted = [&filter](const DiskMap::Entry& entry) { return filter.passes(entry); };
  auto map = run.runMap(*target, {.searchBundles = true, .choices = std::move(choices)});
  // Sorted by path, so that two runs over the same files print the same text.
  const std::string root = target->displayPath(map->rootPath());

  if (options.json) {
    vantel::JsonWriter json(stdout);
    json.beginObject();
    json.key("version");
    json.value(std::int64_t{1});
    json.key("path");
    json.value(target->path);
    json.key("matches");
    json.beginArray();
    visitInPathOrder(*map, filter, root, [&json, &map](Index index, const std::string& path) {
      const auto& entry = (*map)[index];
      json.beginObject();
      json.key("path");
      json.value(path);
      json.key("size");
      if (entry.hasMark(FileNode::unreadable) && !entry.isDirectory()) {
        json.null();
      } else {
        json.value(sizeOf(entry));
      }
      json.key("type");
      json.value(FileNode::nodeTypeName(entry.nodeType()));
      if (entry.hasMark(FileNode::unreadable)) {
        json.key("error");
        json.value(vantelkit::platform::errorDescription(entry.error));
      }
      json.endObject();
    });
    json.endArray();
    // Every entry the scan found was asked, so both counts agree.
    json.key("evaluated");
    json.value(map->totalFilesScanned());
    json.key("filesScanned");
    json.value(map->totalFilesScanned());
    json.key("unreadable");
    json.value(static_cast<std::int64_t>(map->unreadableCount()));
    json.key("complete");
    json.value(!run.interrupted());
    json.endObject();
    json.endDocument();
  } else {
    std::string out;
    out.reserve(1 << 17);
    visitInPathOrder(*map, filter, root, [&out, &options](Index, const std::string& path) {
      if (options.print0) {
        out += path;
        out += '\0';
      } else {
        vantel::appendEscapedForTerminal(out, path);
        out += '\n';
      }
      if (out.size() >= (1 << 16)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
    });
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return vantel::reportScanProblems(*target, map->unreadableEntries(), run.interrupted());
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

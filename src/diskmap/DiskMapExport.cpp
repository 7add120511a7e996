#include "vantelkit/diskmap/DiskMapExport.h"

#include <chrono>
#include <unordered_map>
#include <utility>

#include "vantelkit/Version.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/DiskScanner.h"

namespace vantelkit {

namespace {

using Index = DiskMap::Index;
using Entry = DiskMap::Entry;

// What both formats need to know of each entry beyond the entry itself.
class TreeView {
 public:
  TreeView(const DiskMap& map, const DiskMapExport::TreeOptions& options) : _map(map), _options(options) {
    for (const auto& link : map.hardLinks()) _links[link.entry] = &link;
  }

  // Whether index's children are written at level (the root's children being level 1).
  bool showsChildrenOf(Index index, std::int64_t level) const {
    if (_options.maxDepth && level > *_options.maxDepth) return false;
    if (_options.bundlesAsLeaves && index != DiskMap::rootIndex &&
        DiskScanner::isBundleName(_map[index].nameView()))
      return false;
    return true;
  }
  const DiskMap::HardLink* linkOf(Index index) const {
    if (_links.empty() || !_map[index].hasMark(FileNode::hardLink)) return nullptr;
    auto found = _links.find(index);
    return found == _links.end() ? nullptr : found->second;
  }

 private:
  const DiskMap& _map;
  const DiskMapExport::TreeOptions& _options;
  std::unordered_map<Index, const DiskMap::HardLink*> _links;
};

// A file whose status could not be read, or a folder that was not listed, has no known size.
bool sizeUnknown(const Entry& entry) {
  return entry.hasMark(FileNode::notListed) || (entry.hasMark(FileNode::unreadable) && !entry.isDirectory());
}

std::string errorText(const Entry& entry) {
  return entry.error != 0 ? platform::errorDescription(entry.error) : std::string("could not be read");
}

const char* excludedReason(const Entry& entry) {
  if (entry.hasMark(FileNode::otherFileSystem)) return "otherfs";
  if (entry.hasMark(FileNode::pseudoFileSystem)) return "kernfs";
  if (entry.hasMark(FileNode::cacheFolder)) return "cachedir";
  return nullptr;
}

// A folder's size and usage without those of its entries (as they were summed into it).
std::pair<std::int64_t, std::int64_t> ownSizes(const DiskMap& map, Index folder) {
  std::int64_t size = map[folder].size, usage = map[folder].usage;
  for (Index child : map.children(folder)) {
    const Entry& entry = map[child];
    if (entry.hasMark(FileNode::duplicateLink)) continue;
    size -= entry.size;
    usage -= entry.usage;
  }
  return {size, usage};
}

void writeTree(JsonWriter& json, const DiskMap& map, const TreeView& view) {
  auto enter = [&json, &map, &view](Index index, std::size_t depth) {
    const Entry& entry = map[index];
    if (!entry.isDirectory() && entry.marks == 0) {
      // Most entries are plain files: written as one piece.
      std::string& out = json.rawValueBuffer();
      out += "{\"name\":";
      JsonWriter::appendQuoted(out, entry.nameView());
      out += ",\"size\":";
      JsonWriter::appendNumber(out, entry.size);
      out += ",\"usage\":";
      JsonWriter::appendNumber(out, entry.usage);
      out += ",\"type\":\"";
      out += FileNode::nodeTypeName(entry.nodeType());
      out += "\"}";
      json.rawValueDone();
      return false;
    }
    json.beginObject();
    json.key("name");
    json.value(entry.nameView());
    json.key("size");
    if (sizeUnknown(entry)) {
      json.null();
    } else {
      json.value(entry.size);
    }
    json.key("usage");
    if (sizeUnknown(entry)) {
      json.null();
    } else {
      json.value(entry.usage);
    }
    json.key("type");
    const bool directory = entry.isDirectory();
    json.value(FileNode::nodeTypeName(entry.nodeType()));
    if (entry.hasMark(FileNode::unreadable)) {
      json.key("error");
      json.value(errorText(entry));
    }
    if (entry.hasMark(FileNode::notListed)) {
      json.key("notListed");
      json.value(true);
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
    if (!view.showsChildrenOf(index, static_cast<std::int64_t>(depth) + 1)) {
      json.endArray();
      json.endObject();
      return false;
    }
    return true;
  };
  auto leave = [&json](Index, std::size_t) {
    json.endArray();
    json.endObject();
  };
  map.visit(DiskMap::rootIndex, DiskMap::Order::name, enter, leave);
}

}  // namespace

Result<void> DiskMapExport::writeJSON(const DiskMap& map, const JSONOptions& options, const OutputSink& sink) {
  TreeView view(map, options.tree);
  JsonWriter json(sink);
  json.beginObject();
  json.key("version");
  json.value(std::int64_t{1});
  json.key("path");
  json.value(options.path ? *options.path : map.rootPath());
  json.key("size");
  json.value(map.totalSize());
  json.key("usage");
  json.value(map.totalUsage());
  json.key("filesScanned");
  json.value(map.totalFilesScanned());
  json.key("hardLinks");
  json.value(map.hardLinksCountedOnce() ? "counted once" : "each link counted");
  json.key("unreadable");
  json.value(static_cast<std::int64_t>(map.unreadableCount()));
  json.key("notListed");
  json.value(static_cast<std::int64_t>(map.notListedCount()));
  json.key("complete");
  json.value(options.complete.value_or(map.isComplete()));
  json.key("elapsed");
  json.value(map.elapsed());
  json.key("root");
  writeTree(json, map, view);
  json.endObject();
  json.endDocument();
  return json.outcome();
}

Result<void> DiskMapExport::writeNcdu(const DiskMap& map, const NcduOptions& options, const OutputSink& sink) {
  TreeView view(map, options.tree);
  JsonWriter json(sink);
  json.beginArray();
  json.value(std::int64_t{1});
  json.value(std::int64_t{2});
  json.beginObject();
  json.key("progname");
  json.value("vantel");
  json.key("progver");
  json.value(VANTELKIT_VERSION_STRING);
  json.key("timestamp");
  json.value(options.timestamp.value_or(static_cast<std::int64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count())));
  json.endObject();

  auto info = [&json, &view, &map](Index index, std::string_view name, bool directory) {
    const Entry& entry = map[index];
    json.beginObject();
    json.key("name");
    json.value(name);
    if (!directory && !sizeUnknown(entry)) {
      json.key("asize");
      json.value(entry.size);
      json.key("dsize");
      json.value(entry.usage);
    } else if (directory) {
      // A folder carries its own sizes, without what it holds.
      auto [size, usage] = ownSizes(map, index);
      if (size > 0) {
        json.key("asize");
        json.value(size);
      }
      if (usage > 0) {
        json.key("dsize");
        json.value(usage);
      }
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
    // ncdu knows no folder left unlisted: it reads as one that could not be read.
    if (entry.hasMark(FileNode::unreadable) || entry.hasMark(FileNode::notListed)) {
      json.key("read_error");
      json.value(true);
    }
    if (const char* reason = excludedReason(entry)) {
      json.key("excluded");
      json.value(std::string_view(reason) == "cachedir" ? "pattern" : reason);
    }
    if (!directory && entry.nodeType() != FileNode::NodeType::file) {
      json.key("notreg");
      json.value(true);
    }
    json.endObject();
  };
  // A folder is [{info}, entry...], a file {info}. The root's children are always written,
  // its own name being the map's root path.
  auto enter = [&json, &map, &view, &info](Index index, std::size_t depth) {
    if (depth == 0) {
      json.beginArray();
      info(index, map.rootPath(), true);
      return true;
    }
    const Entry& entry = map[index];
    if (!entry.isDirectory()) {
      info(index, entry.nameView(), false);
      return false;
    }
    json.beginArray();
    info(index, entry.nameView(), true);
    if (view.showsChildrenOf(index, static_cast<std::int64_t>(depth) + 1)) return true;
    json.endArray();
    return false;
  };
  map.visit(DiskMap::rootIndex, DiskMap::Order::name, enter, [&json](Index, std::size_t) { json.endArray(); });
  json.endArray();
  json.endDocument();
  return json.outcome();
}

}  // namespace vantelkit

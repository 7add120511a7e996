#include "vantelkit/diskmap/DiskMapImport.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "diskmap/internal/JsonPullReader.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

namespace {

using internal::JsonPullReader;
using Token = JsonPullReader::Token;
using Kind = Token::Kind;
using Index = DiskMap::Index;
using Case = DiskMapImportError::Case;

// An entry as read, before the map numbers it: the text gives a folder's children between
// its grandchildren, and the map wants each folder's children as one run.
struct Record {
  std::size_t nameOffset = 0;  // in the importer's name pool, NUL-terminated
  std::size_t nameLength = 0;
  std::int64_t size = 0;
  std::int64_t usage = 0;
  std::size_t parent = 0;
  std::size_t firstChild = 0;  // 0 for none (the root is no one's child)
  std::size_t lastChild = 0;
  std::size_t nextSibling = 0;
  std::size_t childCount = 0;
  std::uint8_t type = 0;
  std::uint8_t marks = 0;
  std::uint16_t error = 0;
  // A folder's size and usage as given with what it holds (-1 when not given), and a file
  // said to be left out of its folder's sums: what a folder's own sizes are found from.
  std::int64_t givenSize = -1;
  std::int64_t givenUsage = -1;
  bool uncounted = false;
  void addMark(FileNode::Mark mark) { marks = static_cast<std::uint8_t>(marks | mark); }
};
constexpr std::size_t kNone = 0;

struct PendingLink {
  std::size_t record;
  std::uint64_t device;
  std::uint64_t inode;
  std::uint32_t linkCount;
};

// The error number whose system text is description, or 0.
int errorNumberFor(const std::string& description) {
  static const std::map<std::string, int> numbers = [] {
    std::map<std::string, int> table;
    for (int error = 1; error < 134; ++error) table.emplace(platform::errorDescription(error), error);
    return table;
  }();
  auto found = numbers.find(description);
  return found == numbers.end() ? 0 : found->second;
}

// What an entry said about itself, in either format.
struct EntryInfo {
  std::optional<std::string> name;
  std::optional<std::int64_t> size;
  std::optional<std::int64_t> usage;
  std::optional<bool> isDirectory;
  // Neither a file nor a folder: a link, a device, a pipe or a socket (none when not known).
  std::optional<FileNode::NodeType> otherType;
  std::optional<std::uint64_t> device;
  std::optional<std::uint64_t> inode;
  std::uint32_t linkCount = 0;
  bool hardLink = false;
  bool unreadable = false;
  bool notListed = false;
  int error = 0;
  std::string excluded;
  bool notRegular = false;
  bool uncounted = false;
  std::optional<std::int64_t> mode;  // ncdu's st_mode, in exports with extended information
  std::size_t line = 0, column = 0;
};

// The kind of a non-regular entry from ncdu's st_mode (the file type bits, as POSIX numbers
// them); none when not given or not one of these.
FileNode::NodeType typeFromMode(std::optional<std::int64_t> mode) {
  if (!mode) return FileNode::NodeType::none;
  switch (*mode & 0170000) {
    case 0120000: return FileNode::NodeType::link;
    case 0010000: return FileNode::NodeType::fifo;
    case 0140000: return FileNode::NodeType::socket;
    case 0060000: return FileNode::NodeType::block;
    case 0020000: return FileNode::NodeType::character;
    default: return FileNode::NodeType::none;
  }
}

// A type of the map JSON that is neither "file" nor "directory".
std::optional<FileNode::NodeType> otherTypeNamed(std::string_view name) {
  for (auto type : {FileNode::NodeType::link, FileNode::NodeType::fifo, FileNode::NodeType::socket,
                    FileNode::NodeType::block, FileNode::NodeType::character, FileNode::NodeType::none})
    if (FileNode::nodeTypeName(type) == name) return type;
  return std::nullopt;
}

class Importer {
 public:
  // Each level of the map JSON opens an object and its "children" array; the ncdu export
  // one array.
  Importer(std::string_view text, std::size_t maxDepth) : _reader(text, maxDepth * 2 + 8), _maxDepth(maxDepth) {}

  Result<std::shared_ptr<DiskMap>> run() {
    Token token;
    if (!next(token)) return error();
    bool ok = token.kind == Kind::beginArray ? readNcdu() : token.kind == Kind::beginObject ? readMap()
                                                                                             : fail(token, "expected an ncdu export or a map");
    if (!ok) return error();
    if (!next(token)) return error();
    if (token.kind != Kind::end) return fail(token, "unexpected text after the map"), error();
    if (_records.empty()) return makeError<DiskMapImportError>(Case::notADiskMap, 1, 1, "no root entry");
    if (_records.size() > DiskMap::capacity)
      return makeError<DiskMapImportError>(Case::tooLarge, token.line, token.column,
                                           "more than " + std::to_string(DiskMap::capacity) + " entries");
    return makeMap();
  }

 private:
  bool next(Token& token) {
    if (!_reader.next(token)) return false;
    return true;
  }

  ErrorPtr error() const {
    if (_error) return _error;
    const std::string& message = _reader.errorMessage();
    Case kind = message.rfind("nested more than", 0) == 0 ? Case::nestedTooDeeply : Case::malformedJSON;
    return makeError<DiskMapImportError>(kind, _reader.errorLine(), _reader.errorColumn(), message);
  }

  bool fail(const Token& at, std::string message, Case kind = Case::notADiskMap) {
    if (!_error) _error = makeError<DiskMapImportError>(kind, at.line, at.column, std::move(message));
    return false;
  }

  std::string tooDeep() const {
    return "directories nested more than " + std::to_string(_maxDepth) + " levels deep";
  }

  bool expect(Kind kind, const char* what) {
    Token token;
    if (!next(token)) return false;
    if (token.kind != kind) return fail(token, std::string("expected ") + what);
    return true;
  }

  // A whole number ≥ 0 as the value of key.
  bool count(const Token& token, const std::string& key, std::int64_t& out) {
    if (token.kind != Kind::number || !token.isInteger || token.integer < 0)
      return fail(token, "\"" + key + "\" must be a whole number >= 0");
    out = token.integer;
    return true;
  }

  bool flag(const Token& token, const std::string& key, bool& out) {
    if (token.kind != Kind::boolean) return fail(token, "\"" + key + "\" must be true or false");
    out = token.flag;
    return true;
  }

  bool text(const Token& token, const std::string& key, std::string& out) {
    if (token.kind != Kind::string) return fail(token, "\"" + key + "\" must be a string");
    out = token.text;
    return true;
  }

  bool checkName(const EntryInfo& info, bool isRoot) {
    Token at;
    at.line = info.line;
    at.column = info.column;
    if (!info.name || info.name->empty()) return fail(at, "entry without a name");
    if (isRoot) return true;
    const std::string& name = *info.name;
    if (name == "." || name == ".." || name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
      return fail(at, "invalid name \"" + name + "\"");
    return true;
  }

  // The entry info describes, as the last child of parent (none for the root). A folder's
  // own sizes are taken when ownSizes says the format gives them (else it has none).
  std::size_t makeEntry(const EntryInfo& info, std::optional<std::size_t> parent, bool isDirectory,
                        bool ownSizes = false) {
    if (!parent && !_records.empty()) {
      // A second root: the map is the last one given.
      _records.clear();
      _names.clear();
      _totalSize = _totalUsage = 0;
      _unreadable.clear();
      _hardLinks.clear();
    }
    Record record;
    record.nameOffset = _names.size();
    record.nameLength = info.name->size();
    _names += *info.name;
    _names += '\0';
    record.type = static_cast<std::uint8_t>(isDirectory ? FileNode::NodeType::directory
                                                        : info.otherType.value_or(FileNode::NodeType::file));
    const std::size_t index = _records.size();
    if (parent) {
      record.parent = *parent;
      Record& folder = _records[*parent];
      if (folder.childCount++ == 0) {
        folder.firstChild = index;
      } else {
        _records[folder.lastChild].nextSibling = index;
      }
      folder.lastChild = index;
    }
    if (!isDirectory || ownSizes) {
      record.size = info.size.value_or(0);
      record.usage = info.usage.value_or(record.size);
      _totalSize += record.size;
      _totalUsage += record.usage;
    }
    if (!isDirectory) {
      if (info.hardLink && info.inode) {
        record.addMark(FileNode::hardLink);
        _hardLinks.push_back({index, info.device.value_or(0), *info.inode, info.linkCount});
      }
    }
    _records.push_back(record);
    return index;
  }

  void applyMarks(std::size_t index, const EntryInfo& info) {
    Record& record = _records[index];
    if (info.unreadable) {
      record.error = static_cast<std::uint16_t>(info.error);
      record.addMark(FileNode::unreadable);
      _unreadable.push_back(index);
    }
    if (info.notListed && record.type == static_cast<std::uint8_t>(FileNode::NodeType::directory))
      record.addMark(FileNode::notListed);
    if (info.excluded == "otherfs" || info.excluded == "othfs") record.addMark(FileNode::otherFileSystem);
    if (info.excluded == "kernfs") record.addMark(FileNode::pseudoFileSystem);
    if (info.excluded == "pattern" || info.excluded == "cachedir") record.addMark(FileNode::cacheFolder);
  }

  // The map JSON gives folders with their sums: each folder's own size and usage are what
  // its sums hold beyond its entries' (none when it holds less, as a map summed from its
  // files only does).
  void ownSizesFromSums() {
    for (Record& record : _records) {
      if (record.type != static_cast<std::uint8_t>(FileNode::NodeType::directory) || record.givenSize < 0) continue;
      std::int64_t size = record.givenSize, usage = std::max<std::int64_t>(record.givenUsage, 0);
      for (std::size_t child = record.firstChild; child != kNone; child = _records[child].nextSibling) {
        const Record& entry = _records[child];
        if (entry.uncounted) continue;
        const bool folder = entry.type == static_cast<std::uint8_t>(FileNode::NodeType::directory);
        size -= folder ? std::max<std::int64_t>(entry.givenSize, 0) : entry.size;
        usage -= folder ? std::max<std::int64_t>(entry.givenUsage, 0) : entry.usage;
      }
      record.size = std::max<std::int64_t>(size, 0);
      record.usage = std::max<std::int64_t>(usage, 0);
      _totalSize += record.size;
      _totalUsage += record.usage;
    }
  }

  // The records as a map, numbered breadth-first so that each folder's children are one run.
  std::shared_ptr<DiskMap> makeMap() {
    if (_sumsGiven) ownSizesFromSums();
    const Record& rootRecord = _records[0];
    auto map = std::make_shared<DiskMap>(FileURL::fileURLWithPath(_names.c_str() + rootRecord.nameOffset, true));
    std::vector<Index> entryOf(_records.size(), DiskMap::rootIndex);
    auto fill = [](DiskMap::Entry& entry, const Record& record, const char* name, Index parent) {
      entry.size = record.size;
      entry.usage = record.usage;
      entry.name = name;
      entry.parent = parent;
      entry.firstChild = 0;
      entry.childCount = 0;
      entry.type = record.type;
      entry.marks = record.marks;
      entry.error = record.error;
    };
    fill(map->at(DiskMap::rootIndex), rootRecord, map->root().name, DiskMap::rootIndex);
    std::deque<std::size_t> folders{0};
    while (!folders.empty()) {
      const std::size_t folder = folders.front();
      folders.pop_front();
      const Record& record = _records[folder];
      if (record.childCount == 0) continue;
      std::size_t nameBytes = 0;
      for (std::size_t child = record.firstChild; child != kNone; child = _records[child].nextSibling)
        nameBytes += _records[child].nameLength + 1;
      DiskMap::Block run = map->reserve(record.childCount, nameBytes);
      if (!run.reserved) break;  // more entries than a map can hold: the rest is left out
      DiskMap::Entry& folderEntry = map->at(entryOf[folder]);
      folderEntry.firstChild = run.first;
      folderEntry.childCount = static_cast<Index>(record.childCount);
      char* name = run.names;
      Index at = run.first;
      for (std::size_t child = record.firstChild; child != kNone; child = _records[child].nextSibling, ++at) {
        const Record& childRecord = _records[child];
        std::memcpy(name, _names.data() + childRecord.nameOffset, childRecord.nameLength + 1);
        fill(map->at(at), childRecord, name, entryOf[folder]);
        name += childRecord.nameLength + 1;
        entryOf[child] = at;
        if (childRecord.childCount > 0) folders.push_back(child);
      }
    }
    std::vector<DiskScanResult::UnreadableEntry> unreadable;
    unreadable.reserve(_unreadable.size());
    for (std::size_t record : _unreadable) {
      unreadable.push_back({map->path(entryOf[record]), _records[record].error,
                            _records[record].type == static_cast<std::uint8_t>(FileNode::NodeType::directory)});
    }
    std::sort(unreadable.begin(), unreadable.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    std::vector<DiskMap::HardLink> links;
    links.reserve(_hardLinks.size());
    for (const auto& link : _hardLinks)
      links.push_back({entryOf[link.record], link.device, link.inode, link.linkCount});
    map->setFigures(_totalSize, _totalUsage, std::move(unreadable), _complete, 0.0,
                    static_cast<std::int64_t>(_records.size()) - 1, true, false);
    map->settleHardLinks(std::move(links), _linksCountedOnce);
    map->sumFolders();
    return map;
  }

  // ncdu: [major, minor, {metadata}, DIR], the '[' already read.
  bool readNcdu() {
    _linksCountedOnce = true;
    Token token;
    if (!next(token)) return false;
    if (token.kind != Kind::number || !token.isInteger || token.integer != 1)
      return fail(token, "not an ncdu export of major version 1");
    if (!next(token)) return false;
    if (token.kind != Kind::number || !token.isInteger || token.integer < 0)
      return fail(token, "expected the minor version");
    if (!next(token)) return false;
    if (token.kind != Kind::beginObject) return fail(token, "expected the metadata object");
    if (!_reader.skipValue(token)) return false;
    if (!expect(Kind::beginArray, "the root directory '['")) return false;

    // Open directories, innermost last, each with the device its entries inherit.
    struct Open {
      std::size_t record;
      std::uint64_t device;
    };
    std::vector<Open> open;
    // A directory's array starts with its info; then files (objects) and directories (arrays).
    bool expectInfo = true;
    for (;;) {
      if (expectInfo) {
        if (!expect(Kind::beginObject, "a directory's info object")) return false;
        EntryInfo info;
        if (!readNcduInfo(info)) return false;
        if (!checkName(info, open.empty())) return false;
        if (open.size() >= _maxDepth) {
          Token at;
          at.line = info.line;
          at.column = info.column;
          return fail(at, tooDeep(), Case::nestedTooDeeply);
        }
        auto record = makeEntry(info, open.empty() ? std::nullopt : std::optional(open.back().record), true, true);
        applyMarks(record, info);
        std::uint64_t device = info.device.value_or(open.empty() ? 0 : open.back().device);
        open.push_back({record, device});
        expectInfo = false;
        continue;
      }
      if (!next(token)) return false;
      if (token.kind == Kind::endArray) {
        open.pop_back();
        if (open.empty()) break;
      } else if (token.kind == Kind::beginArray) {
        expectInfo = true;
      } else if (token.kind == Kind::beginObject) {
        EntryInfo info;
        if (!readNcduInfo(info)) return false;
        if (!checkName(info, false)) return false;
        if (info.excluded == "pattern" || info.excluded == "frmlnk") continue;
        if (info.notRegular) info.otherType = typeFromMode(info.mode);
        if (!info.device) info.device = open.back().device;
        applyMarks(makeEntry(info, open.back().record, false), info);
      } else {
        return fail(token, "expected a file's info object or a directory's array");
      }
    }
    return expect(Kind::endArray, "']' after the root directory");
  }

  // The keys of an ncdu info object, its '{' already read.
  bool readNcduInfo(EntryInfo& info) {
    Token token;
    info.line = 0;
    for (;;) {
      if (!next(token)) return false;
      if (info.line == 0) {
        info.line = token.line;
        info.column = token.column;
      }
      if (token.kind == Kind::endObject) return true;
      std::string key = token.text;
      Token value;
      if (!next(value)) return false;
      std::int64_t number = 0;
      bool on = false;
      if (key == "name") {
        std::string name;
        if (!text(value, key, name)) return false;
        info.name = name;
      } else if (key == "asize") {
        if (!count(value, key, number)) return false;
        info.size = number;
      } else if (key == "dsize") {
        if (!count(value, key, number)) return false;
        info.usage = number;
      } else if (key == "dev") {
        if (!count(value, key, number)) return false;
        info.device = static_cast<std::uint64_t>(number);
      } else if (key == "ino") {
        if (!count(value, key, number)) return false;
        info.inode = static_cast<std::uint64_t>(number);
      } else if (key == "nlink") {
        if (!count(value, key, number)) return false;
        info.linkCount = static_cast<std::uint32_t>(std::min<std::int64_t>(number, UINT32_MAX));
      } else if (key == "hlnkc") {
        if (!flag(value, key, on)) return false;
        info.hardLink = on;
      } else if (key == "read_error") {
        if (!flag(value, key, on)) return false;
        info.unreadable = on;
      } else if (key == "notreg") {
        if (!flag(value, key, on)) return false;
        info.notRegular = on;
      } else if (key == "mode") {
        if (!count(value, key, number)) return false;
        info.mode = number;
      } else if (key == "excluded") {
        if (value.kind == Kind::boolean) {
          info.excluded = value.flag ? "pattern" : "";
        } else if (!text(value, key, info.excluded)) {
          return false;
        }
      } else if (!_reader.skipValue(value)) {
        return false;
      }
    }
  }

  // The tool's map JSON, its '{' already read.
  bool readMap() {
    Token token;
    bool sawRoot = false;
    std::optional<std::string> path;
    for (;;) {
      if (!next(token)) return false;
      if (token.kind == Kind::endObject) break;
      std::string key = token.text;
      Token value;
      if (!next(value)) return false;
      if (key == "root") {
        if (value.kind != Kind::beginObject) return fail(value, "\"root\" must be an object");
        if (!readMapTree(path)) return false;
        sawRoot = true;
      } else if (key == "path") {
        std::string text;
        if (!this->text(value, key, text)) return false;
        if (!text.empty()) path = text;
      } else if (key == "hardLinks") {
        std::string rule;
        if (!this->text(value, key, rule)) return false;
        _linksCountedOnce = rule == "counted once";
      } else if (key == "complete") {
        if (!flag(value, key, _complete)) return false;
      } else if (!_reader.skipValue(value)) {
        return false;
      }
    }
    if (!sawRoot) return fail(token, "a map without \"root\"");
    _sumsGiven = true;
    return true;
  }

  // The tree below "root", its first '{' already read.
  bool readMapTree(const std::optional<std::string>& rootPath) {
    struct Open {
      EntryInfo info;
      std::optional<std::size_t> record;  // made at "children" (a directory) or at the end (a file)
      bool inChildren = false;
    };
    std::vector<Open> open;
    Token token;
    open.push_back({});
    open.back().info.line = 0;
    for (;;) {
      Open& current = open.back();
      if (!next(token)) return false;
      if (current.info.line == 0) {
        current.info.line = token.line;
        current.info.column = token.column;
      }
      if (current.inChildren) {
        if (token.kind == Kind::endArray) {
          current.inChildren = false;
          continue;
        }
        if (token.kind != Kind::beginObject) return fail(token, "expected an entry object in \"children\"");
        if (open.size() >= _maxDepth) return fail(token, tooDeep(), Case::nestedTooDeeply);
        open.push_back({});
        continue;
      }
      if (token.kind == Kind::endObject) {
        bool isRoot = open.size() == 1;
        if (!current.record) {
          if (isRoot) return fail(token, "the root must be a directory with \"children\"");
          if (!checkName(current.info, isRoot)) return false;
          current.record =
              makeEntry(current.info, open[open.size() - 2].record, current.info.isDirectory.value_or(false));
        }
        _records[*current.record].uncounted = current.info.uncounted;
        applyMarks(*current.record, current.info);
        open.pop_back();
        if (open.empty()) return true;
        continue;
      }
      std::string key = token.text;
      Token value;
      if (!next(value)) return false;
      EntryInfo& info = current.info;
      std::int64_t number = 0;
      if (key == "name") {
        std::string name;
        if (!text(value, key, name)) return false;
        if (current.record) return fail(token, "\"name\" after \"children\"");
        info.name = name;
      } else if (key == "size" || key == "usage") {
        if (value.kind == Kind::null) continue;  // not known: the entry could not be read
        if (!count(value, key, number)) return false;
        (key == "size" ? info.size : info.usage) = number;
      } else if (key == "type") {
        std::string type;
        if (!text(value, key, type)) return false;
        info.otherType.reset();
        if (type == "directory" || type == "file") {
          info.isDirectory = type == "directory";
        } else if (auto other = otherTypeNamed(type)) {
          info.isDirectory = false;
          info.otherType = *other;
        } else {
          return fail(value, "\"type\" must be \"file\", \"directory\", \"link\", \"fifo\", \"socket\", "
                             "\"block\", \"char\" or \"none\"");
        }
        if (current.record && !*info.isDirectory) return fail(value, "a file with \"children\"");
      } else if (key == "error") {
        std::string reason;
        if (!text(value, key, reason)) return false;
        info.unreadable = true;
        info.error = errorNumberFor(reason);
      } else if (key == "excluded") {
        if (!text(value, key, info.excluded)) return false;
      } else if (key == "notListed") {
        if (!flag(value, key, info.notListed)) return false;
      } else if (key == "counted") {
        bool counted = true;
        if (!flag(value, key, counted)) return false;
        info.uncounted = !counted;
      } else if (key == "links") {
        if (!count(value, key, number)) return false;
        info.linkCount = static_cast<std::uint32_t>(std::min<std::int64_t>(number, UINT32_MAX));
        info.hardLink = true;
      } else if (key == "device") {
        if (!count(value, key, number)) return false;
        info.device = static_cast<std::uint64_t>(number);
      } else if (key == "inode") {
        if (!count(value, key, number)) return false;
        info.inode = static_cast<std::uint64_t>(number);
      } else if (key == "children") {
        if (value.kind != Kind::beginArray) return fail(value, "\"children\" must be an array");
        if (current.record) return fail(token, "\"children\" given twice");
        if (info.isDirectory && !*info.isDirectory) return fail(token, "a file with \"children\"");
        bool isRoot = open.size() == 1;
        if (isRoot && rootPath) info.name = rootPath;
        if (!checkName(info, isRoot)) return false;
        current.record = makeEntry(info, isRoot ? std::nullopt : open[open.size() - 2].record, true);
        _records[*current.record].givenSize = info.size.value_or(-1);
        _records[*current.record].givenUsage = info.usage.value_or(-1);
        current.inChildren = true;
      } else if (!_reader.skipValue(value)) {
        return false;
      }
    }
  }

  JsonPullReader _reader;
  std::size_t _maxDepth;
  ErrorPtr _error;
  std::vector<Record> _records;  // the root first
  std::string _names;
  std::int64_t _totalSize = 0;
  std::int64_t _totalUsage = 0;
  std::vector<std::size_t> _unreadable;
  std::vector<PendingLink> _hardLinks;
  bool _linksCountedOnce = false;
  bool _complete = true;
  bool _sumsGiven = false;  // the map JSON: folders' sizes include what they hold
};

}  // namespace

std::string DiskMapImportError::description() const {
  switch (_case) {
    case Case::malformedJSON: return "malformedJSON";
    case Case::notADiskMap: return "notADiskMap";
    case Case::nestedTooDeeply: return "nestedTooDeeply";
    case Case::tooLarge: return "tooLarge";
  }
  return "notADiskMap";
}

std::string DiskMapImportError::localizedDescription() const {
  return std::to_string(_line) + ":" + std::to_string(_column) + ": " + _message;
}

Result<std::shared_ptr<DiskMap>> DiskMapImport::read(std::string_view text) { return read(text, ReadOptions()); }

Result<std::shared_ptr<DiskMap>> DiskMapImport::read(std::string_view text, const ReadOptions& options) {
  return Importer(text, options.maxDepth).run();
}

}  // namespace vantelkit

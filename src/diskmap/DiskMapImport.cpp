#include "vantelkit/diskmap/DiskMapImport.h"

#include <algorithm>
#include <map>
#include <optional>

#include "diskmap/internal/JsonPullReader.h"
#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/platform/FileStatus.h"

namespace vantelkit {

namespace {

using internal::JsonPullReader;
using Token = JsonPullReader::Token;
using Kind = Token::Kind;
using Node = std::shared_ptr<FileNode>;

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
  std::optional<std::uint64_t> device;
  std::optional<std::uint64_t> inode;
  std::uint32_t linkCount = 0;
  bool hardLink = false;
  bool unreadable = false;
  int error = 0;
  std::string excluded;
  bool notRegular = false;
  std::size_t line = 0, column = 0;
};

class Importer {
 public:
  explicit Importer(std::string_view text) : _reader(text, DiskMapImport::maxDepth * 2 + 8) {}

  std::variant<std::shared_ptr<DiskScanResult>, DiskMapImport::Error> run() {
    Token token;
    if (!next(token)) return error();
    bool ok = token.kind == Kind::beginArray ? readNcdu() : token.kind == Kind::beginObject ? readMap()
                                                                                             : fail(token, "expected an ncdu export or a map");
    if (!ok) return error();
    if (!next(token)) return error();
    if (token.kind != Kind::end) return fail(token, "unexpected text after the map"), error();
    if (!_root) return DiskMapImport::Error{1, 1, "no root entry"};
    DiskScanResult::Details details;
    details.totalSize = _root->size();
    details.totalUsage = _root->usage();
    details.unreadable = std::move(_unreadable);
    std::sort(details.unreadable.begin(), details.unreadable.end(),
              [](const auto& a, const auto& b) { return a.path < b.path; });
    details.hardLinksCountedOnce = _linksCountedOnce;
    details.hardLinks = std::move(_hardLinks);
    if (_linksCountedOnce) {
      DiskScanner::countHardLinksOnce(details.hardLinks, details.totalSize, details.totalUsage, true);
    }
    details.complete = _complete;
    return std::make_shared<DiskScanResult>(_root, 0.0, _nodes, std::move(details));
  }

 private:
  bool next(Token& token) {
    if (!_reader.next(token)) return false;
    return true;
  }

  DiskMapImport::Error error() const {
    if (_failed) return _error;
    return DiskMapImport::Error{_reader.errorLine(), _reader.errorColumn(), _reader.errorMessage()};
  }

  bool fail(const Token& at, std::string message) {
    if (!_failed) {
      _failed = true;
      _error = DiskMapImport::Error{at.line, at.column, std::move(message)};
    }
    return false;
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

  Node makeNode(const EntryInfo& info, const Node& parent, bool isDirectory) {
    FileURL url = parent ? FileURLBuilder(parent->url()).make(*info.name, isDirectory)
                         : FileURL::fileURLWithPath(*info.name, isDirectory);
    auto node = FileNode::make(url, parent, 0, isDirectory ? FileNode::NodeType::directory : FileNode::NodeType::file);
    if (parent) {
      parent->appendChild(node);
      ++_nodes;
    } else {
      _root = node;
    }
    if (!isDirectory) {
      std::int64_t size = info.size.value_or(0);
      std::int64_t usage = info.usage.value_or(size);
      node->setSize(size);
      node->setUsage(usage);
      for (auto ancestor = parent; ancestor; ancestor = ancestor->parent()) {
        ancestor->addSize(size);
        ancestor->addUsage(usage);
      }
      if (info.hardLink && info.inode) {
        node->addMark(FileNode::hardLink);
        _hardLinks.push_back({node, info.device.value_or(0), *info.inode, info.linkCount});
      }
    }
    return node;
  }

  void applyMarks(const Node& node, const EntryInfo& info) {
    if (info.unreadable) {
      node->setError(info.error);
      _unreadable.push_back({node->url().path(), info.error, node->type() == FileNode::NodeType::directory});
    }
    if (info.excluded == "otherfs" || info.excluded == "othfs") node->addMark(FileNode::otherFileSystem);
    if (info.excluded == "kernfs") node->addMark(FileNode::pseudoFileSystem);
    if (info.excluded == "pattern" || info.excluded == "cachedir") node->addMark(FileNode::cacheFolder);
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
      Node node;
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
        if (open.size() >= DiskMapImport::maxDepth) {
          Token at;
          at.line = info.line;
          at.column = info.column;
          return fail(at, "directories nested more than " + std::to_string(DiskMapImport::maxDepth) + " levels deep");
        }
        auto node = makeNode(info, open.empty() ? nullptr : open.back().node, true);
        applyMarks(node, info);
        std::uint64_t device = info.device.value_or(open.empty() ? 0 : open.back().device);
        open.push_back({node, device});
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
        if (info.notRegular || info.excluded == "pattern" || info.excluded == "frmlnk") continue;
        if (!info.device) info.device = open.back().device;
        auto node = makeNode(info, open.back().node, false);
        applyMarks(node, info);
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
    return true;
  }

  // The tree below "root", its first '{' already read.
  bool readMapTree(const std::optional<std::string>& rootPath) {
    struct Open {
      EntryInfo info;
      Node node;         // made at "children" (a directory) or at the end (a file)
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
        if (open.size() >= DiskMapImport::maxDepth)
          return fail(token, "directories nested more than " + std::to_string(DiskMapImport::maxDepth) + " levels deep");
        open.push_back({});
        continue;
      }
      if (token.kind == Kind::endObject) {
        bool isRoot = open.size() == 1;
        Node parent = isRoot ? nullptr : open[open.size() - 2].node;
        if (!current.node) {
          if (isRoot) return fail(token, "the root must be a directory with \"children\"");
          if (!checkName(current.info, isRoot)) return false;
          current.node = makeNode(current.info, parent, current.info.isDirectory.value_or(false));
        }
        applyMarks(current.node, current.info);
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
        if (current.node) return fail(token, "\"name\" after \"children\"");
        info.name = name;
      } else if (key == "size" || key == "usage") {
        if (value.kind == Kind::null) continue;  // not known: the entry could not be read
        if (!count(value, key, number)) return false;
        (key == "size" ? info.size : info.usage) = number;
      } else if (key == "type") {
        std::string type;
        if (!text(value, key, type)) return false;
        if (type != "file" && type != "directory") return fail(value, "\"type\" must be \"file\" or \"directory\"");
        if (current.node && type == "file") return fail(value, "a file with \"children\"");
        info.isDirectory = type == "directory";
      } else if (key == "error") {
        std::string reason;
        if (!text(value, key, reason)) return false;
        info.unreadable = true;
        info.error = errorNumberFor(reason);
      } else if (key == "excluded") {
        if (!text(value, key, info.excluded)) return false;
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
        if (current.node) return fail(token, "\"children\" given twice");
        if (info.isDirectory && !*info.isDirectory) return fail(token, "a file with \"children\"");
        bool isRoot = open.size() == 1;
        if (isRoot && rootPath) info.name = rootPath;
        if (!checkName(info, isRoot)) return false;
        current.node = makeNode(info, isRoot ? nullptr : open[open.size() - 2].node, true);
        current.inChildren = true;
      } else if (!_reader.skipValue(value)) {
        return false;
      }
    }
  }

  JsonPullReader _reader;
  bool _failed = false;
  DiskMapImport::Error _error;
  Node _root;
  std::int64_t _nodes = 0;
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;
  std::vector<DiskScanResult::HardLink> _hardLinks;
  bool _linksCountedOnce = false;
  bool _complete = true;
};

}  // namespace

std::variant<std::shared_ptr<DiskScanResult>, DiskMapImport::Error> DiskMapImport::read(std::string_view text) {
  return Importer(text).run();
}

}  // namespace vantelkit

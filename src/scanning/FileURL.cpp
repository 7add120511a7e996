#include "vantelkit/scanning/FileURL.h"

#include <filesystem>

#include "vantelkit/platform/FileStatus.h"

namespace vantelkit {

namespace {

// Splits an absolute, normalised path ("/a/b") into its folder ("/a") and name ("b").
void split(const std::string& path, std::string& directory, std::string& name) {
  auto slash = path.rfind('/');
  if (path == "/" || slash == std::string::npos) {
    directory.clear();
    name = "/";
    return;
  }
  directory = slash == 0 ? std::string("/") : path.substr(0, slash);
  name = path.substr(slash + 1);
}

bool isUnescaped(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '-': case '.': case '_': case '~': case '/': case '!': case '$': case '&': case '\'':
    case '(': case ')': case '*': case '+': case ',': case ';': case '=': case ':': case '@':
      return true;
    default:
      return false;
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::size_t countComponents(std::string_view path) {
  std::size_t count = 1;  // the root "/"
  bool inComponent = false;
  for (char c : path) {
    if (c == '/') {
      inComponent = false;
    } else if (!inComponent) {
      inComponent = true;
      ++count;
    }
  }
  return count;
}

}  // namespace

FileURL::Folder::Folder(std::shared_ptr<const Folder> parentFolder, std::string folderName)
    : parent(std::move(parentFolder)), name(std::move(folderName)) {
  if (parent) {
    length = parent->length + (parent->length == 1 ? 0 : 1) + name.size();
    components = parent->components + 1;
  } else {
    length = name.size();
    components = countComponents(name);
  }
}

FileURL::Folder::~Folder() {
  // Unlink the chain above while this folder is its last owner, one folder at a time.
  auto next = std::move(parent);
  while (next && next.use_count() == 1) next = std::move(next->parent);
}

void FileURL::Folder::appendPath(std::string& out) const {
  std::vector<const Folder*> chain;
  for (const Folder* folder = this; folder; folder = folder->parent.get()) chain.push_back(folder);
  out.reserve(out.size() + length);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if ((*it)->parent && (*it)->parent->length != 1) out += '/';
    out += (*it)->name;
  }
}

std::shared_ptr<const FileURL::Folder> FileURL::folderOf(const FileURL& directory) {
  return std::make_shared<const Folder>(directory._directory, directory._name);
}

FileURL::FileURL() : _name("/"), _isDirectory(true) {}

FileURL FileURL::fileURLWithPath(std::string_view path, std::optional<bool> isDirectory) {
  std::string absolute;
  if (path.empty() || path.front() != '/') {
    std::error_code error;
    auto current = std::filesystem::current_path(error);
    absolute = error ? std::string("/") : current.string();
    absolute += '/';
  }
  absolute.append(path);
  bool trailingSlash = absolute.size() > 1 && absolute.back() == '/';

  // Merge repeated "/", drop "." components and the trailing "/".
  std::string normalised;
  normalised.reserve(absolute.size());
  std::size_t i = 0;
  while (i < absolute.size()) {
    while (i < absolute.size() && absolute[i] == '/') ++i;
    std::size_t end = absolute.find('/', i);
    if (end == std::string::npos) end = absolute.size();
    std::string_view component(absolute.data() + i, end - i);
    if (!component.empty() && component != ".") {
      normalised += '/';
      normalised.append(component);
    }
    i = end;
  }
  if (normalised.empty()) normalised = "/";

  FileURL url;
  std::string directory;
  split(normalised, directory, url._name);
  if (!directory.empty()) url._directory = std::make_shared<const Folder>(nullptr, std::move(directory));
  url._isDirectory = isDirectory.value_or(trailingSlash || normalised == "/");
  return url;
}

std::optional<FileURL> FileURL::fromAbsoluteString(std::string_view text) {
  constexpr std::string_view scheme = "file://";
  if (text.substr(0, scheme.size()) != scheme) return std::nullopt;
  text.remove_prefix(scheme.size());
  if (text.empty() || text.front() != '/') return std::nullopt;
  std::string path;
  path.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      int high = hexValue(text[i + 1]);
      int low = hexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      path += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      path += text[i];
    }
  }
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return fileURLWithPath(path);
}

std::string FileURL::path() const {
  if (!_directory) return _name;
  std::string result;
  result.reserve(_directory->length + 1 + _name.size());
  _directory->appendPath(result);
  if (_directory->length != 1) result += '/';
  result += _name;
  return result;
}

std::string FileURL::pathExtension() const {
  auto dot = _name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == _name.size()) return {};
  return _name.substr(dot + 1);
}

std::vector<std::string> FileURL::pathComponents() const {
  std::vector<std::string> components{"/"};
  std::string full = path();
  std::size_t i = 0;
  while (i < full.size()) {
    while (i < full.size() && full[i] == '/') ++i;
    std::size_t end = full.find('/', i);
    if (end == std::string::npos) end = full.size();
    if (end > i) components.emplace_back(full.substr(i, end - i));
    i = end;
  }
  return components;
}

std::size_t FileURL::pathComponentCount() const {
  if (!_directory) return _name == "/" ? 1 : countComponents(_name);
  return _directory->components + 1;
}

FileURL FileURL::appendingPathComponent(std::string_view component, bool isDirectory) const {
  // A name never holds "/": a component that does is taken as a relative path.
  if (component.empty() || component.find('/') != std::string_view::npos || component == ".") {
    std::string joined = path();
    joined += '/';
    joined.append(component);
    return fileURLWithPath(joined, isDirectory);
  }
  FileURL url;
  url._directory = folderOf(*this);
  url._name = std::string(component);
  url._isDirectory = isDirectory;
  return url;
}

FileURL FileURL::deletingLastPathComponent() const {
  if (!_directory) return FileURL();
  std::string directory;
  _directory->appendPath(directory);
  return fileURLWithPath(directory, true);
}

std::string FileURL::absoluteString() const {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string full = path();
  std::string result = "file://";
  result.reserve(result.size() + full.size() + 1);
  for (unsigned char c : full) {
    if (isUnescaped(c)) {
      result += static_cast<char>(c);
    } else {
      result += '%';
      result += digits[c >> 4];
      result += digits[c & 15];
    }
  }
  if (_isDirectory && full != "/") result += '/';
  return result;
}

FileURL::FileType FileURL::fileType() const {
  using platform::FileObjectType;
  switch (platform::fileObjectTypeNotFollowingLink(path())) {
    case FileObjectType::blockSpecial: return FileType::blockSpecial;
    case FileObjectType::charSpecial: return FileType::charSpecial;
    case FileObjectType::directory: return FileType::directory;
    case FileObjectType::fifo: return FileType::fifo;
    case FileObjectType::file: return FileType::file;
    case FileObjectType::symbolicLink: return FileType::symbolicLink;
    case FileObjectType::socket: return FileType::socket;
    case FileObjectType::unknown: return FileType::unknown;
  }
  return FileType::unknown;
}

bool FileURL::operator==(const FileURL& other) const {
  if (_directory == other._directory) return _name == other._name;
  if (!_directory || !other._directory || _name != other._name) return false;
  if (_directory->length != other._directory->length) return false;
  std::string mine, theirs;
  _directory->appendPath(mine);
  other._directory->appendPath(theirs);
  return mine == theirs;
}

std::size_t FileURL::hash() const {
  // FNV-1a over the path as path() spells it, without building it.
  std::size_t h = 1469598103934665603ull;
  auto feed = [&h](std::string_view bytes) {
    for (unsigned char c : bytes) {
      h ^= c;
      h *= 1099511628211ull;
    }
  };
  if (_directory) {
    std::vector<const Folder*> chain;
    for (const Folder* folder = _directory.get(); folder; folder = folder->parent.get()) chain.push_back(folder);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if ((*it)->parent && (*it)->parent->length != 1) feed("/");
      feed((*it)->name);
    }
    if (_directory->length != 1) feed("/");
  }
  feed(_name);
  return h;
}

FileURLBuilder::FileURLBuilder(const FileURL& directory) : _directory(FileURL::folderOf(directory)) {}

std::string FileURLBuilder::directoryPath() const {
  std::string path;
  _directory->appendPath(path);
  return path;
}

FileURL FileURLBuilder::make(std::string_view name, bool isDirectory) const {
  FileURL url;
  url._directory = _directory;
  url._name = std::string(name);
  url._isDirectory = isDirectory;
  return url;
}

}  // namespace vantelkit

// The location of a file or folder: an absolute path of bytes (a name need not be valid
// UTF-8) and whether it names a directory. The URLs of one directory's entries share that
// directory, and a directory refers to its own folder in turn, so a scanned tree keeps each
// name once, however deep it goes.
// Thread safety: a value type; one owner at a time, const access from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantelkit {

class FileURL {
 public:
  // The object type of the item at a URL, as lstat reports it (a link is not followed).
  enum class FileType { blockSpecial, charSpecial, directory, fifo, file, symbolicLink, socket, unknown };

  // The root folder "/".
  FileURL();
  // A URL for path. A relative path is resolved against the current directory; repeated
  // "/" are merged, "." components dropped. A trailing "/" marks a directory, as does
  // isDirectory when given.
  static FileURL fileURLWithPath(std::string_view path, std::optional<bool> isDirectory = std::nullopt);
  // Parses a "file://" URL text as absoluteString() writes it (percent-escapes decoded).
  // None for any other text.
  static std::optional<FileURL> fromAbsoluteString(std::string_view text);

  // The absolute path, without a trailing "/" (except for the root itself).
  std::string path() const;
  bool hasDirectoryPath() const { return _isDirectory; }
  // The last component ("/" for the root).
  const std::string& lastPathComponent() const { return _name; }
  // The text after the last "." of the last component, or the empty text when there is
  // none (a leading dot, as in ".profile", starts no extension).
  std::string pathExtension() const;
  // "/" followed by each component: "/a/b" gives "/", "a", "b".
  std::vector<std::string> pathComponents() const;
  // pathComponents().size(), without building the list.
  std::size_t pathComponentCount() const;
  // This URL with component appended (a component holding "/" is taken as a relative path).
  FileURL appendingPathComponent(std::string_view component, bool isDirectory = false) const;
  // The containing folder (the root for the root).
  FileURL deletingLastPathComponent() const;
  // "file://" + the percent-escaped path, with a trailing "/" for a directory.
  std::string absoluteString() const;
  // The lstat type of the item; unknown when lstat fails.
  FileType fileType() const;

  // Equal when the paths are equal; the directory flag plays no part.
  bool operator==(const FileURL& other) const;
  std::size_t hash() const;

 private:
  // A folder of a URL: its parent folder and its name, or (parent null) its whole path.
  struct Folder {
    Folder(std::shared_ptr<const Folder> parent, std::string name);
    ~Folder();  // releases a long chain of folders without recursion
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    void appendPath(std::string& out) const;
    mutable std::shared_ptr<const Folder> parent;
    std::string name;
    std::size_t length;      // bytes of the folder's path
    std::size_t components;  // path components of the folder, "/" included
  };
  static std::shared_ptr<const Folder> folderOf(const FileURL& directory);

  // _directory null: _name is the whole path (the root, or a URL made from a path).
  std::shared_ptr<const Folder> _directory;
  std::string _name;
  bool _isDirectory = false;
  friend class FileURLBuilder;
};

// Makes the URLs of one directory's entries, all sharing one copy of the directory's path.
// One owner at a time.
class FileURLBuilder {
 public:
  explicit FileURLBuilder(const FileURL& directory);
  FileURL make(std::string_view name, bool isDirectory) const;
  // The directory's path (built on each call).
  std::string directoryPath() const;

 private:
  std::shared_ptr<const FileURL::Folder> _directory;
};

}  // namespace vantelkit

template <>
struct std::hash<vantelkit::FileURL> {
  std::size_t operator()(const vantelkit::FileURL& url) const noexcept { return url.hash(); }
};

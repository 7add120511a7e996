// Bulk listing of one directory: each entry's name, object type and, for a regular file (or
// on request for every entry), its logical size, allocated bytes and identity, read with as
// few system calls as the platform allows. Links are never
// followed below the listed directory. Names are bytes and need not be valid UTF-8.
// Thread safety: list() may be called from many threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "vantelkit/platform/FileStatus.h"

namespace vantelkit::platform {

class DirectoryReader {
 public:
  struct Entry {
    std::string_view name;  // valid only during the visit
    FileObjectType type = FileObjectType::unknown;
    // Logical size and bytes allocated on disk of a regular file, or of any entry when the
    // visitor wantsEveryStatus() (a folder's own, a link's own: never followed); else 0.
    std::int64_t size = 0;
    std::int64_t usage = 0;
    // When the content last changed, in whole seconds since 1970-01-01T00:00:00Z, read with
    // the sizes (0 when they were not).
    std::int64_t modified = 0;
    // Identity of a regular file (of any entry but a folder when every status is read), for
    // telling hard links apart.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint32_t linkCount = 1;
    // The system's error number when the entry's status could not be read (its type is then
    // only what the listing said, and its sizes are unknown); 0 when it was read. Kept as a
    // number, which trees store compactly; errorCode() is the form to compare.
    int error = 0;

    std::error_code errorCode() const { return errorCodeFromNumber(error); }
  };

  class Visitor {
   public:
    virtual ~Visitor() = default;
    virtual void visit(const Entry& entry) = 0;
    // Asked once the directory is open, before any entry, when wantsDirectoryDevice() is
    // true: the device the directory lies on. Answering false lists nothing (list() then
    // answers complete).
    virtual bool wantsDirectoryDevice() const { return false; }
    virtual bool enterDirectory(std::uint64_t device) { (void)device; return true; }
    // False when the visitor needs only names and types: a regular file's status is then
    // read for the first file of the listing only (to learn whether the folder lets its
    // entries be read at all; when it does not, every file's status is asked for and its
    // error reported), and the others have sizes 0 and one link. A reader may read
    // statuses anyway.
    virtual bool wantsFileStatus() const { return true; }
    // Asked for each regular file, with its name, when wantsFileStatus() is false: true when
    // this file's status is wanted all the same (it then comes with its sizes and identity,
    // or the error that kept them back). Every reader honours it; a wrapping visitor passes
    // it on.
    virtual bool wantsStatusOf(std::string_view name) const { (void)name; return false; }
    // True when the status of every entry is wanted, not only of regular files: folders,
    // links, devices, pipes and sockets then come with their sizes too. Only asked when
    // wantsFileStatus() is true.
    virtual bool wantsEveryStatus() const { return false; }
    // Why the directory could not be listed, just before list() answers cannotOpen or
    // readFailed.
    virtual void failed(std::error_code error) { (void)error; }
  };

  enum class Status {
    complete,    // every entry was visited
    cannotOpen,  // nothing visited: missing, not a directory, no permission, no memory
    readFailed,  // the entries read before the failure were visited
  };

  virtual ~DirectoryReader() = default;

  // Visits the entries of the directory at path (absolute), "." and ".." left out, in the
  // order the file system returns them. A link as the last component of path is followed
  // only when followLink is set. A path longer than the platform's limit is still listed.
  // The directory is closed and the buffer freed before list() returns, so visitors may
  // open other directories without holding this one.
  virtual Status list(const std::string& path, bool followLink, Visitor& visitor) = 0;

  // An open directory kept past its listing, so that one of its subdirectories can be listed
  // through it without resolving the whole path again (what keeps a deep walk linear).
  // Closed when destroyed.
  class Held {
   public:
    virtual ~Held() = default;
  };

  // list(), and when the directory was listed completely, keeps it open in kept. A reader
  // that cannot keep directories leaves kept empty.
  virtual Status listKeeping(const std::string& path, bool followLink, Visitor& visitor, std::unique_ptr<Held>& kept) {
    kept.reset();
    return list(path, followLink, visitor);
  }

  // Lists the subdirectory name of held (a link there is not followed) as list() would, and
  // keeps it in kept as listKeeping() does. held is closed as soon as the subdirectory is
  // open, so at most one directory stays open. path gives the subdirectory's absolute path;
  // it is called only when the reader needs it (this default lists by path).
  virtual Status listSubdirectory(std::unique_ptr<Held> held, std::string_view name,
                                  const std::function<std::string()>& path, Visitor& visitor,
                                  std::unique_ptr<Held>& kept) {
    (void)name;
    held.reset();
    kept.reset();
    return list(path(), false, visitor);
  }

  // Reads the statuses of chosen entries of the directory at path (names as a listing gave
  // them) without listing it again, for a walk that listed without file statuses: visit()
  // once per name, in order, with what list() gives a visitor that wants file statuses
  // (type, and for a regular file its sizes and identity). An entry whose status cannot be
  // read, one removed since it was listed too, comes with its error number and no sizes.
  // Answers cannotOpen, after failed(), when the directory cannot be opened (nothing is
  // visited); a link as the last component of path is followed, none below it. This default
  // reads each entry by its whole path and gives no identity.
  virtual Status readStatuses(const std::string& path, const std::vector<std::string_view>& names, Visitor& visitor);

  // The platform's reader, shared for the process.
  static std::shared_ptr<DirectoryReader> platformDefault();
  // The reader a scan uses when it is given none: platformDefault(), unless another was set
  // (a test's fault-injecting reader, the tool's pausing one). Set it before scans start.
  static std::shared_ptr<DirectoryReader> shared();
  // Null: back to platformDefault().
  static void setShared(std::shared_ptr<DirectoryReader> reader);
};

}  // namespace vantelkit::platform

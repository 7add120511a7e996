// getdents64 into a large buffer, type from the entry, statx only for regular files (and
// for entries whose type the file system leaves unknown), or for every entry when asked.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "vantelkit/platform/DirectoryReader.h"

namespace vantelkit::platform {

namespace {

// Large enough for a few thousand entries per call, small enough to stay below the
// allocator's mmap threshold (so a listing costs no extra system calls for its buffer).
constexpr std::size_t kBufferSize = 104704;

struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

FileObjectType typeFromMode(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFREG: return FileObjectType::file;
    case S_IFDIR: return FileObjectType::directory;
    case S_IFLNK: return FileObjectType::symbolicLink;
    case S_IFBLK: return FileObjectType::blockSpecial;
    case S_IFCHR: return FileObjectType::charSpecial;
    case S_IFIFO: return FileObjectType::fifo;
    case S_IFSOCK: return FileObjectType::socket;
    default: return FileObjectType::unknown;
  }
}

FileObjectType typeFromDirent(unsigned char type) {
  switch (type) {
    case DT_REG: return FileObjectType::file;
    case DT_DIR: return FileObjectType::directory;
    case DT_LNK: return FileObjectType::symbolicLink;
    case DT_BLK: return FileObjectType::blockSpecial;
    case DT_CHR: return FileObjectType::charSpecial;
    case DT_FIFO: return FileObjectType::fifo;
    case DT_SOCK: return FileObjectType::socket;
    default: return FileObjectType::unknown;
  }
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : _fd(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return _fd; }
  int release() {
    int fd = _fd;
    _fd = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (_fd >= 0) ::close(_fd);
    _fd = fd;
  }

 private:
  int _fd;
};

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Opens a path of any length: by path when it fits, else component group by component
// group, each group opened relative to the folder before it.
// errno as an error code.
std::error_code lastError() { return errorCodeFromNumber(errno); }

int openDirectory(const std::string& path, bool followLink) {
  int lastFlags = kDirectoryFlags | (followLink ? 0 : O_NOFOLLOW);
  if (path.size() < PATH_MAX) {
    int fd = ::open(path.c_str(), lastFlags);
    if (fd >= 0 || errno != ENAMETOOLONG) return fd;
  }
  // Split into pieces shorter than PATH_MAX at "/" boundaries.
  Descriptor current(::open("/", kDirectoryFlags));
  if (current.get() < 0) return -1;
  std::size_t start = 0;
  while (start < path.size() && path[start] == '/') ++start;
  while (start < path.size()) {
    std::size_t end = std::min(path.size(), start + (PATH_MAX - 1));
    if (end < path.size()) {
      std::size_t slash = path.rfind('/', end);
      if (slash == std::string::npos || slash <= start) {
        errno = ENAMETOOLONG;  // one name longer than the limit
        return -1;
      }
      end = slash;
    }
    std::string piece = path.substr(start, end - start);
    bool last = end >= path.size();
    int fd = ::openat(current.get(), piece.c_str(), last ? lastFlags : kDirectoryFlags);
    if (fd < 0) return -1;
    current.reset(fd);
    start = end;
    while (start < path.size() && path[start] == '/') ++start;
  }
  return current.release();
}

class HeldDirectory final : public DirectoryReader::Held {
 public:
  explicit HeldDirectory(int fd) : descriptor(fd) {}
  Descriptor descriptor;
};

// The getdents64 buffer: one per thread, kept between listings; a listing started from
// inside another's visit gets its own.
class ListingBuffer {
 public:
  ListingBuffer() {
    if (!cached.inUse) {
      if (!cached.data) cached.data.reset(new (std::nothrow) char[kBufferSize]);
      if (cached.data) {
        cached.inUse = true;
        _data = cached.data.get();
        _shared = true;
        return;
      }
    }
    _own.reset(new (std::nothrow) char[kBufferSize]);
    _data = _own.get();
  }
  ~ListingBuffer() {
    if (_shared) cached.inUse = false;
  }
  ListingBuffer(const ListingBuffer&) = delete;
  ListingBuffer& operator=(const ListingBuffer&) = delete;
  explicit operator bool() const { return _data != nullptr; }
  char* get() const { return _data; }

 private:
  struct Cache {
    std::unique_ptr<char[]> data;
    bool inUse = false;
  };
  static thread_local Cache cached;
  std::unique_ptr<char[]> _own;
  char* _data = nullptr;
  bool _shared = false;
};

thread_local ListingBuffer::Cache ListingBuffer::cached;

class LinuxDirectoryReader final : public DirectoryReader {
 public:
  Status list(const std::string& path, bool followLink, Visitor& visitor) override {
    return listOpened(openDirectory(path, followLink), visitor, nullptr);
  }

  Status listKeeping(const std::string& path, bool followLink, Visitor& visitor, std::unique_ptr<Held>& kept) override {
    kept.reset();
    return listOpened(openDirectory(path, followLink), visitor, &kept);
  }

  Status listSubdirectory(std::unique_ptr<Held> held, std::string_view name, const std::function<std::string()>& path,
                          Visitor& visitor, std::unique_ptr<Held>& kept) override {
    kept.reset();
    auto* parent = dynamic_cast<HeldDirectory*>(held.get());
    if (parent == nullptr || name.empty() || name.size() >= NAME_MAX + 1) {
      held.reset();
      return listOpened(openDirectory(path(), false), visitor, &kept);
    }
    std::string component(name);
    int fd = ::openat(parent->descriptor.get(), component.c_str(), kDirectoryFlags | O_NOFOLLOW);
    int openError = errno;
    held.reset();  // one open directory at a time
    errno = openError;
    return listOpened(fd, visitor, &kept);
  }

  Status readStatuses(const std::string& path, const std::vector<std::string_view>& names, Visitor& visitor) override {
    Descriptor directory(openDirectory(path, true));
    if (directory.get() < 0) {
      visitor.failed(lastError());
      return Status::cannotOpen;
    }
    std::string name;
    for (auto given : names) {
      name.assign(given);
      Entry visited;
      visited.name = given;
      struct statx status;
      if (::statx(directory.get(), name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                  STATX_TYPE | STATX_SIZE | STATX_BLOCKS | STATX_NLINK | STATX_INO, &status) != 0) {
        visited.error = errno;
      } else {
        visited.type = typeFromMode(status.stx_mode);
        if (visited.type == FileObjectType::file) {
          visited.size = static_cast<std::int64_t>(status.stx_size);
          visited.usage = static_cast<std::int64_t>(status.stx_blocks) * 512;
          visited.device = makedev(status.stx_dev_major, status.stx_dev_minor);
          visited.inode = status.stx_ino;
          visited.linkCount = status.stx_nlink;
        }
      }
      visitor.visit(visited);
    }
    return Status::complete;
  }

 private:
  // Lists the directory open as fd (closing it, or handing it to kept after a complete
  // listing); a negative fd reports errno as the failure to open.
  static Status listOpened(int opened, Visitor& visitor, std::unique_ptr<Held>* kept) {
    Descriptor directory(opened);
    if (directory.get() < 0) {
      visitor.failed(lastError());
      return Status::cannotOpen;
    }
    Status status = listEntries(directory.get(), visitor);
    if (status == Status::complete && kept != nullptr) *kept = std::make_unique<HeldDirectory>(directory.release());
    return status;
  }

  static Status listEntries(int fd, Visitor& visitor) {
    if (visitor.wantsDirectoryDevice()) {
      struct stat status {};
      if (::fstat(fd, &status) != 0) {
        visitor.failed(lastError());
        return Status::cannotOpen;
      }
      if (!visitor.enterDirectory(static_cast<std::uint64_t>(status.st_dev))) return Status::complete;
    }
    ListingBuffer buffer;
    if (!buffer) {
      visitor.failed(std::make_error_code(std::errc::not_enough_memory));
      return Status::cannotOpen;
    }

    // Without file statuses, the first file's status still tells whether the folder lets its
    // entries be read; when it does not, every status is asked for, so that each failure is
    // reported.
    bool readStatus = true;
    bool probed = visitor.wantsFileStatus();
    const bool everyStatus = probed && visitor.wantsEveryStatus();
    for (;;) {
      long count = ::syscall(SYS_getdents64, fd, buffer.get(), kBufferSize);
      if (count == 0) return Status::complete;
      if (count < 0) {
        if (errno == EINTR) continue;
        // A directory removed while it is read ends like an empty one.
        if (errno == ENOENT) return Status::complete;
        visitor.failed(lastError());
        return Status::readFailed;
      }
      for (long offset = 0; offset < count;) {
        auto* entry = reinterpret_cast<LinuxDirent64*>(buffer.get() + offset);
        offset += entry->d_reclen;
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;

        Entry visited;
        visited.name = std::string_view(name);
        visited.type = typeFromDirent(entry->d_type);
        // Beyond regular files, a status that cannot be read leaves the entry as the listing
        // gave it, without sizes.
        const bool needed =
            visited.type == FileObjectType::unknown ||
            (visited.type == FileObjectType::file && (readStatus || visitor.wantsStatusOf(visited.name)));
        if (needed || everyStatus) {
          struct statx status;
          if (::statx(fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                      STATX_TYPE | STATX_SIZE | STATX_BLOCKS | STATX_NLINK | STATX_INO | STATX_MTIME, &status) != 0) {
            // Removed since the directory was read: it is no longer there to report.
            if (errno == ENOENT) continue;
            if (!needed) {
              visitor.visit(visited);
              continue;
            }
            visited.error = errno;
            probed = true;
          } else {
            visited.type = typeFromMode(status.stx_mode);
            if (visited.type == FileObjectType::file || (everyStatus && visited.type != FileObjectType::unknown)) {
              visited.size = static_cast<std::int64_t>(status.stx_size);
              visited.usage = static_cast<std::int64_t>(status.stx_blocks) * 512;
              visited.modified = static_cast<std::int64_t>(status.stx_mtime.tv_sec);
            }
            if (visited.type == FileObjectType::file ||
                (everyStatus && visited.type != FileObjectType::directory && visited.type != FileObjectType::unknown)) {
              visited.device = makedev(status.stx_dev_major, status.stx_dev_minor);
              visited.inode = status.stx_ino;
              visited.linkCount = status.stx_nlink;
            }
            if (!probed && visited.type == FileObjectType::file) {
              probed = true;
              readStatus = false;
            }
          }
        }
        visitor.visit(visited);
      }
    }
  }
};

}  // namespace

std::shared_ptr<DirectoryReader> DirectoryReader::platformDefault() {
  static std::shared_ptr<DirectoryReader> reader = std::make_shared<LinuxDirectoryReader>();
  return reader;
}

}  // namespace vantelkit::platform

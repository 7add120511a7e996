#include "vantelkit/platform/FileStatus.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace vantelkit::platform {

namespace {
FileObjectType typeFromMode(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFBLK: return FileObjectType::blockSpecial;
    case S_IFCHR: return FileObjectType::charSpecial;
    case S_IFDIR: return FileObjectType::directory;
    case S_IFIFO: return FileObjectType::fifo;
    case S_IFREG: return FileObjectType::file;
    case S_IFLNK: return FileObjectType::symbolicLink;
    case S_IFSOCK: return FileObjectType::socket;
    default: return FileObjectType::unknown;
  }
}
}  // namespace

FileObjectType fileObjectTypeNotFollowingLink(std::string_view path) {
  struct stat status {};
  if (::lstat(std::string(path).c_str(), &status) != 0) return FileObjectType::unknown;
  return typeFromMode(status.st_mode);
}

PathStatus pathStatus(std::string_view path, bool followLink) {
  struct stat status {};
  std::string text(path);
  int result = followLink ? ::stat(text.c_str(), &status) : ::lstat(text.c_str(), &status);
  if (result != 0) return PathStatus{FileObjectType::unknown, errorCodeFromNumber(errno), 0};
  PathStatus answer{typeFromMode(status.st_mode), {}, static_cast<std::uint64_t>(status.st_dev)};
  answer.ownSize = static_cast<std::int64_t>(status.st_size);
  answer.ownUsage = static_cast<std::int64_t>(status.st_blocks) * 512;
  if (answer.type == FileObjectType::file) {
    answer.size = answer.ownSize;
    answer.usage = answer.ownUsage;
  }
  return answer;
}

std::string errorDescription(int error) {
  char buffer[256];
  // The GNU form returns the text, which may or may not be the buffer.
  return std::string(::strerror_r(error, buffer, sizeof buffer));
}

int lastErrorNumber() { return errno; }

bool fileStartsWith(const std::string& path, std::string_view prefix) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  std::string read(prefix.size(), '\0');
  std::size_t filled = 0;
  while (filled < read.size()) {
    ssize_t count = ::read(fd, read.data() + filled, read.size() - filled);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    filled += static_cast<std::size_t>(count);
  }
  ::close(fd);
  return filled == prefix.size() && read == prefix;
}

bool globMatches(const std::string& pattern, const std::string& text) {
  return ::fnmatch(pattern.c_str(), text.c_str(), 0) == 0;
}

bool isStickyFolderNotFollowingLink(std::string_view path) {
  struct stat status {};
  if (::lstat(std::string(path).c_str(), &status) != 0) return false;
  return S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0;
}

std::optional<std::string> readSmallFile(std::string_view path, std::size_t limit, bool followLink,
                                         std::error_code& error) {
  error.clear();
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW);
  const int descriptor = ::open(std::string(path).c_str(), flags);
  if (descriptor < 0) {
    error = errorCodeFromNumber(errno);
    return std::nullopt;
  }
  std::optional<std::string> bytes;
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) {
    error = errorCodeFromNumber(errno);
  } else if (!S_ISREG(status.st_mode)) {
    error = std::make_error_code(std::errc::invalid_argument);
  } else {
    std::string data;
    char buffer[65536];
    for (;;) {
      const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) {
        error = errorCodeFromNumber(errno);
        break;
      }
      if (count == 0) {
        bytes = std::move(data);
        break;
      }
      if (data.size() + static_cast<std::size_t>(count) > limit) {
        error = std::make_error_code(std::errc::file_too_large);
        break;
      }
      data.append(buffer, static_cast<std::size_t>(count));
    }
  }
  ::close(descriptor);
  return bytes;
}

unsigned currentUserId() { return static_cast<unsigned>(::getuid()); }

std::optional<double> fileModificationTimeNotFollowingLink(std::string_view path) {
  struct stat status {};
  if (::lstat(std::string(path).c_str(), &status) != 0) return std::nullopt;
  return static_cast<double>(status.st_mtim.tv_sec) + static_cast<double>(status.st_mtim.tv_nsec) / 1e9;
}

}  // namespace vantelkit::platform

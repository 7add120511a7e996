#include "vantelkit/platform/FileStatus.h"

#include <sys/stat.h>

#include <string>

namespace vantelkit::platform {

FileObjectType fileObjectTypeNotFollowingLink(std::string_view path) {
  struct stat status {};
  if (::lstat(std::string(path).c_str(), &status) != 0) return FileObjectType::unknown;
  switch (status.st_mode & S_IFMT) {
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

std::optional<double> fileModificationTimeNotFollowingLink(std::string_view path) {
  struct stat status {};
  if (::lstat(std::string(path).c_str(), &status) != 0) return std::nullopt;
  return static_cast<double>(status.st_mtim.tv_sec) + static_cast<double>(status.st_mtim.tv_nsec) / 1e9;
}

}  // namespace vantelkit::platform

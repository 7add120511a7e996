// The trash through GIO's g_file_trash (which writes the freedesktop layout: the home trash
// for entries on the home's volume, the volume's own .Trash/$uid or .Trash-$uid otherwise),
// found again afterwards by device and inode; restore and permanent removal by descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Trash.h"

namespace vantelkit::platform {

namespace {

Trash::Failure failureOf(int error) {
  return Trash::Failure{errorCodeFromNumber(error), errorDescription(error)};
}

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The top folder of the volume path lies on: the highest folder above it on the same device.
std::string volumeTop(const std::string& path, dev_t device) {
  std::string top = folderOf(path);
  while (top != "/") {
    const std::string up = folderOf(top);
    struct stat status {};
    if (lstat(up.c_str(), &status) != 0 || status.st_dev != device) break;
    top = up;
  }
  return top;
}

// The name in folder/files whose entry is (device, inode), or "".
std::string nameWithInode(const std::string& trash, dev_t device, ino_t inode) {
  const std::string files = trash + "/files";
  DIR* listing = opendir(files.c_str());
  if (!listing) return {};
  std::string found;
  while (dirent* entry = readdir(listing)) {
    struct stat status {};
    if (entry->d_ino != inode) continue;
    if (fstatat(dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && status.st_dev == device &&
        status.st_ino == inode) {
      found = entry->d_name;
      break;
    }
  }
  closedir(listing);
  return found;
}

class GioTrash final : public Trash {
 public:
  std::variant<Item, Failure> moveToTrash(const std::string& path) override {
    struct stat before {};
    if (lstat(path.c_str(), &before) != 0) return failureOf(errno);
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    const gboolean moved = g_file_trash(file, nullptr, &error);
    g_object_unref(file);
    if (!moved) {
      Failure failure{std::make_error_code(std::errc::io_error), error ? error->message : "cannot move to the trash"};
      if (error && error->domain == G_IO_ERROR && error->code == G_IO_ERROR_PERMISSION_DENIED)
        failure.code = std::make_error_code(std::errc::permission_denied);
      if (error) g_error_free(error);
      return failure;
    }
    std::vector<std::string> trashes{std::string(g_get_user_data_dir()) + "/Trash"};
    const std::string top = volumeTop(path, before.st_dev);
    const std::string uid = std::to_string(getuid());
    trashes.push_back((top == "/" ? std::string() : top) + "/.Trash/" + uid);
    trashes.push_back((top == "/" ? std::string() : top) + "/.Trash-" + uid);
    for (const auto& trash : trashes) {
      std::string name = nameWithInode(trash, before.st_dev, before.st_ino);
      if (!name.empty())
        return Item{path, trash + "/files/" + name, trash + "/info/" + name + ".trashinfo"};
    }
    // Moved, but to a place this reader of the layout does not know: it cannot be put back
    // from here, though the desktop's trash still can.
    return Failure{std::make_error_code(std::errc::no_such_file_or_directory),
                   "moved to the trash, but not found there to be put back later"};
  }

  std::optional<Failure> restore(const Item& item) override {
    // Never over something that has taken the entry's place since.
    if (renameat2(AT_FDCWD, item.trashedPath.c_str(), AT_FDCWD, item.originalPath.c_str(), RENAME_NOREPLACE) != 0)
      return failureOf(errno);
    if (unlink(item.infoPath.c_str()) != 0 && errno != ENOENT) return failureOf(errno);
    return std::nullopt;
  }

  std::optional<Failure> removePermanently(const std::string& path) override {
    const std::string name = nameOf(path);
    if (name.empty() || name == "." || name == "..") return failureOf(EINVAL);
    const int parent = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return failureOf(errno);
    auto failure = removeAt(parent, name);
    close(parent);
    return failure;
  }

 private:
  // Removes name in the folder open as parent, depth first, each folder open by descriptor
  // and without following links, so a link swapped in cannot redirect the removal.
  static std::optional<Failure> removeAt(int parent, const std::string& name) {
    struct stat status {};
    if (fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return failureOf(errno);
    if (!S_ISDIR(status.st_mode)) {
      if (unlinkat(parent, name.c_str(), 0) != 0) return failureOf(errno);
      return std::nullopt;
    }
    const dev_t device = status.st_dev;
    struct Frame {
      DIR* listing;
      std::string name;  // in the folder of the frame below
    };
    std::optional<Failure> first;
    auto note = [&first](int error) {
      if (!first) first = failureOf(error);
    };
    std::vector<Frame> stack;
    auto openFolder = [&](int at, const std::string& folder) {
      const int fd = openat(at, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) return note(errno);
      DIR* listing = fdopendir(fd);
      if (!listing) {
        note(errno);
        close(fd);
        return;
      }
      stack.push_back(Frame{listing, folder});
    };
    openFolder(parent, name);
    while (!stack.empty()) {
      DIR* listing = stack.back().listing;
      errno = 0;
      dirent* entry = readdir(listing);
      if (!entry) {
        if (errno != 0) note(errno);
        const std::string done = stack.back().name;
        closedir(listing);
        stack.pop_back();
        const int at = stack.empty() ? parent : dirfd(stack.back().listing);
        if (unlinkat(at, done.c_str(), AT_REMOVEDIR) != 0) note(errno);
        continue;
      }
      const std::string child = entry->d_name;
      if (child == "." || child == "..") continue;
      struct stat childStatus {};
      if (fstatat(dirfd(listing), child.c_str(), &childStatus, AT_SYMLINK_NOFOLLOW) != 0) {
        note(errno);
        continue;
      }
      if (S_ISDIR(childStatus.st_mode)) {
        if (childStatus.st_dev != device) {
          note(EXDEV);  // a mount point: what is mounted there is not ours to remove
          continue;
        }
        openFolder(dirfd(listing), child);
      } else if (unlinkat(dirfd(listing), child.c_str(), 0) != 0) {
        note(errno);
      }
    }
    return first;
  }
};

}  // namespace

std::shared_ptr<Trash> Trash::platformDefault() { return std::make_shared<GioTrash>(); }

}  // namespace vantelkit::platform

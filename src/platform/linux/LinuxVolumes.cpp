// Volumes of a Linux system: the folder's device (stat) matched with the device numbers of
// /proc/self/mountinfo, statfs for the kind of a file system the table does not list,
// /sys/block/loop*/loop/backing_file for attached images, and the disk-image tool run with a
// pipe where it exists.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

#include "vantelkit/platform/Process.h"
#include "vantelkit/platform/Volumes.h"

namespace vantelkit::platform {

namespace {

constexpr std::size_t kMaximumReadSize = std::size_t{16} * 1024 * 1024;

std::optional<std::string> readAll(int fd) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t length = ::read(fd, buffer, sizeof(buffer));
    if (length < 0 && errno == EINTR) continue;
    if (length < 0) return std::nullopt;
    if (length == 0) return bytes;
    if (bytes.size() + static_cast<std::size_t>(length) > kMaximumReadSize) return std::nullopt;
    bytes.append(buffer, static_cast<std::size_t>(length));
  }
}

std::optional<std::string> readFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  auto bytes = readAll(fd);
  ::close(fd);
  return bytes;
}

std::vector<std::string> directoryNames(const std::string& path) {
  std::vector<std::string> names;
  DIR* directory = ::opendir(path.c_str());
  if (!directory) return names;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string_view name(entry->d_name);
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

bool isPathPrefix(std::string_view prefix, std::string_view path) {
  if (prefix == "/") return !path.empty() && path.front() == '/';
  return path.size() >= prefix.size() && path.substr(0, prefix.size()) == prefix &&
         (path.size() == prefix.size() || path[prefix.size()] == '/');
}

// The name of a statfs file-system number, for the kinds a start-up volume may have; empty
// for others.
std::string fileSystemName(unsigned long type) {
  switch (type) {
    case 0xEF53: return "ext4";  // ext2 and ext3 share the number; the ext4 driver serves them
    case 0x58465342: return "xfs";
    case 0x9123683E: return "btrfs";
    case 0xF2F52010: return "f2fs";
    case 0x2FC12FC1: return "zfs";
    case 0x01021994: return "tmpfs";
    case 0x794C7630: return "overlay";
    case 0x73717368: return "squashfs";
    case 0x6969: return "nfs";
    default: return {};
  }
}

class LinuxVolumeProbe final : public VolumeProbe {
 public:
  std::optional<FolderDevice> folderDevice(std::string_view path) override {
    const std::string folder(path);
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return std::nullopt;
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved)) return std::nullopt;
    return FolderDevice{resolved, ::major(status.st_dev), ::minor(status.st_dev)};
  }

  std::string fileSystemKind(std::string_view path) override {
    const std::string folder(path);
    struct statfs fileSystem {};
    if (::statfs(folder.c_str(), &fileSystem) != 0) return {};
    return fileSystemName(static_cast<unsigned long>(fileSystem.f_type));
  }

  std::optional<std::string> mountTable() override { return readFile("/proc/self/mountinfo"); }

  bool isRemovableDevice(unsigned major, unsigned minor) override {
    const std::string device = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    auto flag = readFile(device + "/removable");
    if (!flag) flag = readFile(device + "/../removable");  // a partition: its disk's
    return flag && !flag->empty() && flag->front() == '1';
  }
};

MountedVolume volumeOf(const MountInfoEntry& entry, bool isRootVolume) {
  return MountedVolume{entry.mountPoint, entry.source, entry.filesystemType, isRootVolume};
}

class LinuxVolumes final : public Volumes {
 public:
  explicit LinuxVolumes(std::shared_ptr<VolumeProbe> probe) : _probe(std::move(probe)) {}

  std::vector<MountedVolume> mountedVolumes() override {
    const auto table = _probe->mountTable();
    if (!table) return {};
    std::vector<MountedVolume> volumes;
    for (const auto& entry : parseMountInfo(*table)) {
      std::erase_if(volumes, [&](const MountedVolume& known) { return known.mountPoint == entry.mountPoint; });
      MountedVolume volume = volumeOf(entry, entry.mountPoint == "/");
      volume.isRemovable = isPathPrefix("/media", entry.mountPoint) || isPathPrefix("/run/media", entry.mountPoint) ||
                           (entry.major != 0 && _probe->isRemovableDevice(entry.major, entry.minor));
      volumes.push_back(std::move(volume));
    }
    return volumes;
  }

  std::optional<MountedVolume> volumeOfFolder(std::string_view path) override {
    auto folder = _probe->folderDevice(path.empty() ? "/" : path);
    if (!folder) return std::nullopt;
    const auto root = _probe->folderDevice("/");
    const bool onRootDevice = root && root->major == folder->major && root->minor == folder->minor;
    const auto table = _probe->mountTable();
    const auto entries = table ? parseMountInfo(*table) : std::vector<MountInfoEntry>{};
    // The deepest mount point that holds the folder, of any device and of the folder's own; a
    // later mount on the same point hides the earlier ones, as the kernel lists them in mount
    // order. Then any mount of the folder's device, the last listed.
    const MountInfoEntry* byPath = nullptr;
    const MountInfoEntry* byDeviceAndPath = nullptr;
    const MountInfoEntry* byDevice = nullptr;
    const auto deeper = [](const MountInfoEntry* best, const MountInfoEntry& entry) {
      return !best || entry.mountPoint.size() >= best->mountPoint.size();
    };
    for (const auto& entry : entries) {
      const bool holdsFolder = isPathPrefix(entry.mountPoint, folder->canonicalPath);
      const bool sameDevice = entry.major == folder->major && entry.minor == folder->minor;
      if (holdsFolder && deeper(byPath, entry)) byPath = &entry;
      if (sameDevice) byDevice = &entry;
      if (sameDevice && holdsFolder && deeper(byDeviceAndPath, entry)) byDeviceAndPath = &entry;
    }
    if (byDeviceAndPath) return volumeOf(*byDeviceAndPath, onRootDevice);
    // Device numbers that the table does not show for this path (btrfs subvolumes report
    // their own): the mount the path lies in.
    if (byPath) return volumeOf(*byPath, onRootDevice || byPath->mountPoint == "/");
    // A chroot or container whose "/" is a folder of a mount outside it, which the table
    // leaves out: the device tells the volume, listed elsewhere or not at all.
    if (byDevice) {
      MountedVolume volume = volumeOf(*byDevice, onRootDevice);
      if (onRootDevice) volume.mountPoint = "/";
      return volume;
    }
    if (onRootDevice) return MountedVolume{"/", {}, _probe->fileSystemKind(folder->canonicalPath), true};
    return std::nullopt;
  }

  std::vector<LoopDevice> attachedLoopDevices() override {
    std::vector<LoopDevice> devices;
    for (const auto& name : directoryNames("/sys/block")) {
      if (name.rfind("loop", 0) != 0) continue;
      auto backing = readFile("/sys/block/" + name + "/loop/backing_file");
      if (!backing) continue;  // a loop device with nothing attached has no backing file
      while (!backing->empty() && (backing->back() == '\n' || backing->back() == '\0')) backing->pop_back();
      LoopDevice device{"/dev/" + name, std::move(*backing), {}};
      for (const auto& child : directoryNames("/sys/block/" + name)) {
        if (child.size() > name.size() + 1 && child.rfind(name + "p", 0) == 0) {
          device.partitions.push_back("/dev/" + child);
        }
      }
      devices.push_back(std::move(device));
    }
    return devices;
  }

  std::optional<std::string> diskImageToolInformation() override {
    static const std::string tool = "/usr/bin/hdiutil";
    if (::access(tool.c_str(), X_OK) != 0) return std::nullopt;
    auto result = runProcess(tool, {"info", "-plist"});
    if (!result || result->exitStatus != 0) return std::nullopt;
    return std::move(result->standardOutput);
  }

 private:
  const std::shared_ptr<VolumeProbe> _probe;
};

std::mutex volumesMutex;
std::shared_ptr<Volumes>& installedVolumes() {
  static std::shared_ptr<Volumes> volumes;  // guarded by volumesMutex
  return volumes;
}

}  // namespace

bool isKernelFileSystemType(std::string_view filesystemType) {
  static constexpr std::array<std::string_view, 12> kinds{"binfmt_misc", "bpf",     "cgroup",     "cgroup2",
                                                          "debugfs",     "devpts",  "proc",       "pstore",
                                                          "securityfs",  "selinuxfs", "sysfs",    "tracefs"};
  return std::find(kinds.begin(), kinds.end(), filesystemType) != kinds.end();
}

bool isNetworkFileSystemType(std::string_view filesystemType) {
  static constexpr std::array<std::string_view, 16> kinds{
      "9p",         "afs",          "ceph",       "cifs",      "coda",         "davfs",       "fuse.davfs2", "fuse.rclone",
      "fuse.s3fs",  "fuse.sshfs",   "glusterfs",  "ncpfs",     "nfs",          "nfs4",        "smb3",        "smbfs"};
  return std::find(kinds.begin(), kinds.end(), filesystemType) != kinds.end() || filesystemType.starts_with("fuse.gvfs");
}

std::vector<std::string> kernelFileSystemMountPoints() {
  std::vector<std::string> points;
  auto table = readFile("/proc/self/mountinfo");
  if (!table) return points;
  // The kernel lists mounts in mount order: a later mount on the same point hides the earlier.
  std::map<std::string, bool> kernelAt;
  for (auto& entry : parseMountInfo(*table)) {
    kernelAt[std::move(entry.mountPoint)] = isKernelFileSystemType(entry.filesystemType);
  }
  for (auto& [point, kernel] : kernelAt) {
    if (kernel) points.push_back(point);
  }
  return points;
}

Volumes& Volumes::shared() {
  std::lock_guard lock(volumesMutex);
  auto& installed = installedVolumes();
  if (!installed) installed = makeLinuxVolumes();
  return *installed;
}

std::shared_ptr<Volumes> makeLinuxVolumes(std::shared_ptr<VolumeProbe> probe) {
  if (!probe) probe = std::make_shared<LinuxVolumeProbe>();
  return std::make_shared<LinuxVolumes>(std::move(probe));
}

void Volumes::setShared(std::shared_ptr<Volumes> volumes) {
  std::lock_guard lock(volumesMutex);
  installedVolumes() = std::move(volumes);
}

}  // namespace vantelkit::platform

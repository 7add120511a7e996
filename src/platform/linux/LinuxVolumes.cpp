// Volumes of a Linux system: statfs for the folder, /proc/self/mountinfo for the mount that
// holds it, /sys/block/loop*/loop/backing_file for attached images, and the disk-image tool
// run with a pipe where it exists.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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

class LinuxVolumes final : public Volumes {
 public:
  std::optional<MountedVolume> volumeOfFolder(std::string_view path) override {
    const std::string folder(path.empty() ? "/" : path);
    struct statfs fileSystem {};
    if (::statfs(folder.c_str(), &fileSystem) != 0) return std::nullopt;
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved)) return std::nullopt;
    const std::string canonical(resolved);
    auto table = readFile("/proc/self/mountinfo");
    if (!table) return std::nullopt;
    // The deepest mount point that holds the folder; a later mount on the same point hides
    // the earlier ones, as the kernel lists them in mount order.
    const MountInfoEntry* best = nullptr;
    const auto entries = parseMountInfo(*table);
    for (const auto& entry : entries) {
      if (!isPathPrefix(entry.mountPoint, canonical)) continue;
      if (!best || entry.mountPoint.size() >= best->mountPoint.size()) best = &entry;
    }
    if (!best) return std::nullopt;
    return MountedVolume{best->mountPoint, best->source, best->filesystemType, best->mountPoint == "/"};
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
  if (!installed) installed = std::make_shared<LinuxVolumes>();
  return *installed;
}

void Volumes::setShared(std::shared_ptr<Volumes> volumes) {
  std::lock_guard lock(volumesMutex);
  installedVolumes() = std::move(volumes);
}

}  // namespace vantelkit::platform

// What the system knows about mounted volumes and attached disk images: the volume that holds
// a folder, the loop devices with their backing image files, the output of the platform's
// disk-image tool where there is one, and the parser of the Linux mount table.
// The default instance asks the running system; tests may install their own, or build the
// Linux lookup over a VolumeProbe of their own.
// Thread safety: every member is safe to call from any thread; install a replacement before
// concurrent use. parseMountInfo is a pure function.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantelkit::platform {

struct MountedVolume {
  // Where the volume is mounted ("/", "/media/image").
  std::string mountPoint;
  // The device or source it is mounted from ("/dev/loop3p1", "tmpfs").
  std::string mountedFrom;
  std::string filesystemType;
  // True for the volume that holds "/" (the same device): the system's start-up volume,
  // also in a chroot or container whose "/" the mount table does not show.
  bool isRootVolume = false;
  // True for a volume on a removable device (the kernel says so, or it is mounted below
  // /media or /run/media, where desktops mount what is plugged in).
  bool isRemovable = false;
  bool operator==(const MountedVolume&) const = default;
};

struct LoopDevice {
  // "/dev/loop3".
  std::string device;
  // The image file behind the device, as the kernel reports it.
  std::string backingFile;
  // The device paths of its partitions ("/dev/loop3p1"), sorted.
  std::vector<std::string> partitions;
  bool operator==(const LoopDevice&) const = default;
};

class Volumes {
 public:
  virtual ~Volumes() = default;

  // The shared instance (the running system's unless replaced).
  static Volumes& shared();
  // Replaces the shared instance; null restores the system's.
  static void setShared(std::shared_ptr<Volumes> volumes);

  // The volume that holds the folder at path, found by the folder's device; none when the
  // folder cannot be examined or neither its device nor its path leads to a volume. Where
  // the mount table does not list the start-up volume, it is "/" with an empty mountedFrom.
  virtual std::optional<MountedVolume> volumeOfFolder(std::string_view path) = 0;
  // The attached loop devices, sorted by device path; empty when none or unreadable.
  virtual std::vector<LoopDevice> attachedLoopDevices() = 0;
  // The standard output of "/usr/bin/hdiutil info -plist" when that tool exists and exits
  // with status 0; none otherwise.
  virtual std::optional<std::string> diskImageToolInformation() = 0;
  // Every volume the mount table lists now, in mount order, one per mount point (a later
  // mount on the same point hides the earlier); empty when the table cannot be read. This
  // default knows none.
  virtual std::vector<MountedVolume> mountedVolumes() { return {}; }
};

// One line of /proc/<pid>/mountinfo.
struct MountInfoEntry {
  unsigned major = 0;
  unsigned minor = 0;
  // The folder of the file system that forms the mount's root ("/" for a whole file system).
  std::string root;
  std::string mountPoint;
  std::string filesystemType;
  std::string source;
  bool operator==(const MountInfoEntry&) const = default;
};

// The entries of a mountinfo text in order; malformed lines are skipped. Octal escapes
// ("\040" for a space) in paths are decoded.
std::vector<MountInfoEntry> parseMountInfo(std::string_view text);

// A folder as the volume lookup sees it: its path with links resolved, and the device number
// of the file system that holds it.
struct FolderDevice {
  std::string canonicalPath;
  unsigned major = 0;
  unsigned minor = 0;
  bool operator==(const FolderDevice&) const = default;
};

// The facts of the running system that the Linux volume lookup reads. The default instance
// asks the system; tests give their own to makeLinuxVolumes.
class VolumeProbe {
 public:
  virtual ~VolumeProbe() = default;
  // The folder at path; none when it cannot be examined.
  virtual std::optional<FolderDevice> folderDevice(std::string_view path) = 0;
  // The kind of file system that holds path ("ext4", "tmpfs"), empty when unknown.
  virtual std::string fileSystemKind(std::string_view path) = 0;
  // The text of this process's mount table (/proc/self/mountinfo); none when unreadable.
  virtual std::optional<std::string> mountTable() = 0;
  // True when the block device major:minor (or the disk it is a partition of) is removable.
  // This default says no.
  virtual bool isRemovableDevice(unsigned major, unsigned minor) {
    (void)major;
    (void)minor;
    return false;
  }
};

// The Volumes of a Linux system, whose volume lookup reads probe (the running system when
// null); loop devices and the disk-image tool are always the running system's.
std::shared_ptr<Volumes> makeLinuxVolumes(std::shared_ptr<VolumeProbe> probe = nullptr);

// True for the types of the kernel's own file systems, which hold no files of a user (proc,
// sysfs, cgroup, debugfs, devpts and their kin), as ncdu's --exclude-kernfs knows them.
bool isKernelFileSystemType(std::string_view filesystemType);

// True for the types of file systems reached over a network (nfs, cifs, smb3, sshfs and
// other FUSE network mounts, ceph, glusterfs, 9p, afs, davfs).
bool isNetworkFileSystemType(std::string_view filesystemType);

// Where kernel file systems are mounted now, from this process's mount table, sorted; empty
// when the table cannot be read.
std::vector<std::string> kernelFileSystemMountPoints();

}  // namespace vantelkit::platform

#include "vantelkit/system/DiskImage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <random>

#include "support/BundleBuilder.h"
#include "vantelkit/foundation/PropertyList.h"
#include "vantelkit/platform/Process.h"
#include "vantelkit/platform/Volumes.h"

namespace vantelkit {
namespace {

namespace fs = std::filesystem;
using platform::LoopDevice;
using platform::MountedVolume;

class FakeVolumes final : public platform::Volumes {
 public:
  std::optional<MountedVolume> volumeOfFolder(std::string_view path) override {
    askedFolders.emplace_back(path);
    return volume;
  }
  std::vector<LoopDevice> attachedLoopDevices() override { return loops; }
  std::optional<std::string> diskImageToolInformation() override {
    ++toolRuns;
    return toolOutput;
  }

  std::optional<MountedVolume> volume;
  std::vector<LoopDevice> loops;
  std::optional<std::string> toolOutput;
  std::vector<std::string> askedFolders;
  int toolRuns = 0;
};

std::optional<std::string> sample(const std::string& name) {
  std::ifstream in(std::string(VANTEL_SAMPLES_DIR) + "/hdiutil/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

MountedVolume mountedFrom(std::string device) { return {"/Volumes/Installer", std::move(device), "hfs", false}; }

class DiskImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Volumes::setShared(volumes);
    DiskImageInformationProvider::setShared(nullptr);
  }
  void TearDown() override {
    platform::Volumes::setShared(nullptr);
    DiskImageInformationProvider::setShared(nullptr);
  }
  bool onImage(std::string device) {
    volumes->volume = mountedFrom(std::move(device));
    return isOnDiskImage(FileURL::fileURLWithPath("/Volumes/Installer/Installer.app", true));
  }

  std::shared_ptr<FakeVolumes> volumes = std::make_shared<FakeVolumes>();
};

TEST_F(DiskImageTest, FindsTheVolumesDeviceInTheToolsOutput) {
  auto info = sample("bladerunner_hdiutil_info_3images.plist");
  if (!info) GTEST_SKIP() << "samples not available";
  volumes->toolOutput = info;
  // The second image holds it; the unrelated image listed first does not change the answer.
  EXPECT_TRUE(onImage("/dev/disk9s1"));
  EXPECT_TRUE(onImage("/dev/disk4s1"));
  EXPECT_TRUE(onImage("/dev/disk11s1"));
  EXPECT_FALSE(onImage("/dev/disk9s"));
  EXPECT_FALSE(onImage("/dev/disk12"));
  EXPECT_EQ(volumes->askedFolders.back(), "/Volumes/Installer") << "the parent folder's volume is asked";
}

TEST_F(DiskImageTest, ABundleAsksForItsOwnURL) {
  const fs::path folder = fs::temp_directory_path() / ("vantel-image-bundle-" + std::to_string(std::random_device()()));
  testing::writeBundle((folder / "Installer.app").string(), Value(testing::applicationInfo("org.example.Installer", "Installer")));
  auto bundle = Bundle::open((folder / "Installer.app").string());
  ASSERT_TRUE(bundle);
  volumes->loops = {{"/dev/loop5", "/srv/installer.img", {}}};
  volumes->volume = mountedFrom("/dev/loop5");
  EXPECT_TRUE(isOnDiskImage(*bundle));
  EXPECT_EQ(volumes->askedFolders.back(), folder.string());
  volumes->volume = mountedFrom("/dev/loop6");
  EXPECT_FALSE(isOnDiskImage(*bundle));
  fs::remove_all(folder);
}

TEST_F(DiskImageTest, OutputWithoutImagesOrNotAPropertyListAnswersFalse) {
  auto empty = sample("bladerunner_hdiutil_info_empty.plist");
  auto attach = sample("homebrew_hdiutil_attach_apm_hfs.plist");
  if (!empty || !attach) GTEST_SKIP() << "samples not available";
  volumes->toolOutput = empty;
  EXPECT_FALSE(onImage("/dev/disk4s1"));
  volumes->toolOutput = attach;  // entities at the top level, no "images"
  EXPECT_FALSE(onImage("/dev/disk3s2"));
  volumes->toolOutput = std::string("hdiutil: info failed");
  EXPECT_FALSE(onImage("/dev/disk3s2"));
}

TEST_F(DiskImageTest, AnElementOfTheWrongTypeEndsTheWalk) {
  const Value::Dictionary match{{"dev-entry", "/dev/disk5s1"}};
  const auto withImages = [](Value::Array images) { return Value(Value::Dictionary{{"images", std::move(images)}}); };
  const auto image = [](Value::Array entities) { return Value(Value::Dictionary{{"system-entities", std::move(entities)}}); };
  const std::string device = "/dev/disk5s1";

  EXPECT_TRUE(imageInformationContainsDevice(withImages({image({match})}), device));
  EXPECT_TRUE(imageInformationContainsDevice(withImages({image({}), image({Value::Dictionary{{"dev-entry", "/dev/x"}}, match})}), device));
  // Each faulty element comes before a matching one.
  EXPECT_FALSE(imageInformationContainsDevice(withImages({Value("not a dictionary"), image({match})}), device));
  EXPECT_FALSE(imageInformationContainsDevice(withImages({Value(Value::Dictionary{}), image({match})}), device));
  EXPECT_FALSE(imageInformationContainsDevice(withImages({image({Value(3)}), image({match})}), device));
  EXPECT_FALSE(imageInformationContainsDevice(withImages({image({Value(Value::Dictionary{{"dev-entry", 7}}), match})}), device));
  EXPECT_FALSE(imageInformationContainsDevice(withImages({image({Value(Value::Dictionary{}), match})}), device));
  EXPECT_FALSE(imageInformationContainsDevice(Value(Value::Array{image({match})}), device));
  EXPECT_FALSE(imageInformationContainsDevice(Value(Value::Dictionary{{"images", Value(match)}}), device));

  auto info = sample("bladerunner_hdiutil_info_3images.plist");
  if (!info) return;
  // The real output with a wrong element put first: false although the device is listed.
  auto parsed = PropertyList::parse(*info);
  ASSERT_TRUE(parsed);
  Value broken = *parsed;
  broken.dictionary()->at("images").array()->insert(broken.dictionary()->at("images").array()->begin(), Value(1));
  EXPECT_TRUE(imageInformationContainsDevice(*parsed, "/dev/disk9s1"));
  EXPECT_FALSE(imageInformationContainsDevice(broken, "/dev/disk9s1"));
}

TEST_F(DiskImageTest, TheStartUpVolumeAnswersFalseWithoutAskingForImages) {
  volumes->toolOutput = sample("bladerunner_hdiutil_info_3images.plist").value_or("");
  volumes->volume = MountedVolume{"/", "/dev/disk4s1", "apfs", true};
  EXPECT_FALSE(isOnDiskImage(FileURL::fileURLWithPath("/Applications/Some.app", true)));
  volumes->volume = std::nullopt;  // statfs failed, or no mount holds the folder
  EXPECT_FALSE(isOnDiskImage(FileURL::fileURLWithPath("/gone/Some.app", true)));
  EXPECT_EQ(volumes->toolRuns, 0);
}

TEST_F(DiskImageTest, WithoutTheToolTheLoopDevicesAreTheImages) {
  volumes->loops = {{"/dev/loop0", "/srv/other.img", {}}, {"/dev/loop3", "/srv/installer.img", {"/dev/loop3p1", "/dev/loop3p2"}}};
  EXPECT_TRUE(onImage("/dev/loop3p2"));
  EXPECT_TRUE(onImage("/dev/loop0"));
  EXPECT_FALSE(onImage("/dev/loop1"));
  EXPECT_FALSE(onImage("/dev/vda"));
  const Value information = loopDeviceImageInformation();
  const Value::Array* images = information.arrayFor("images");
  ASSERT_NE(images, nullptr);
  ASSERT_EQ(images->size(), 2u);
  EXPECT_EQ(*(*images)[1].textFor("image-path"), "/srv/installer.img");
  EXPECT_EQ((*images)[1].arrayFor("system-entities")->size(), 3u);
}

TEST(MountInfoTest, ReadsEntriesAndDecodesEscapes) {
  const auto entries = platform::parseMountInfo(
      "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
      "45 27 7:3 / /media/My\\040Image rw,relatime shared:5 master:1 - ext4 /dev/loop3p1 rw\n"
      "46 27 0:50 /sub /srv\\134x rw - tmpfs tmpfs rw\n"
      "garbage line\n"
      "47 27 x:1 / /bad rw - ext4 /dev/x rw\n"
      "48 27 0:51 / /nosep rw ext4 /dev/y rw\n");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (platform::MountInfoEntry{254, 0, "/", "/", "ext4", "/dev/vda"}));
  EXPECT_EQ(entries[1], (platform::MountInfoEntry{7, 3, "/", "/media/My Image", "ext4", "/dev/loop3p1"}));
  EXPECT_EQ(entries[2].mountPoint, "/srv\\x");
  EXPECT_EQ(entries[2].root, "/sub");
}

class FakeVolumeProbe final : public platform::VolumeProbe {
 public:
  std::optional<platform::FolderDevice> folderDevice(std::string_view path) override {
    auto found = folders.find(std::string(path));
    if (found == folders.end()) return std::nullopt;
    return found->second;
  }
  std::string fileSystemKind(std::string_view) override { return "ext4"; }
  std::optional<std::string> mountTable() override { return table; }
  bool isRemovableDevice(unsigned major, unsigned minor) override {
    return removable.count({major, minor}) != 0;
  }

  std::map<std::string, platform::FolderDevice> folders;
  std::optional<std::string> table;
  std::set<std::pair<unsigned, unsigned>> removable;
};

TEST(VolumeLookupTest, FindsTheStartUpVolumeByItsDeviceWhenTheMountTableLeavesOutRoot) {
  // A chroot in a folder of the host's volume 254:1: the table shows only what is mounted
  // inside it.
  auto probe = std::make_shared<FakeVolumeProbe>();
  probe->folders = {{"/", {"/", 254, 1}},
                    {"/etc", {"/etc", 254, 1}},
                    {"/proc/1", {"/proc/1", 0, 22}},
                    {"/media/image/Installer", {"/media/image/Installer", 7, 3}}};
  probe->table =
      "40 39 0:22 / /proc rw - proc proc rw\n"
      "41 39 7:3 / /media/image rw - ext4 /dev/loop3 rw\n";
  auto volumes = platform::makeLinuxVolumes(probe);
  EXPECT_EQ(volumes->volumeOfFolder("/etc"), (MountedVolume{"/", "", "ext4", true}));
  EXPECT_EQ(volumes->volumeOfFolder("/"), (MountedVolume{"/", "", "ext4", true}));
  EXPECT_EQ(volumes->volumeOfFolder("/proc/1"), (MountedVolume{"/proc", "proc", "proc", false}));
  EXPECT_EQ(volumes->volumeOfFolder("/media/image/Installer"),
            (MountedVolume{"/media/image", "/dev/loop3", "ext4", false}));
  EXPECT_FALSE(volumes->volumeOfFolder("/missing"));
  // A folder of the host's volume bound into the chroot names the device.
  *probe->table += "42 39 254:1 /home /home rw - ext4 /dev/vda1 rw\n";
  EXPECT_EQ(volumes->volumeOfFolder("/etc"), (MountedVolume{"/", "/dev/vda1", "ext4", true}));
}

TEST(VolumeLookupTest, ListsMountedVolumesOncePerMountPointWithRemovableAndNetworkOnesKnown) {
  auto probe = std::make_shared<FakeVolumeProbe>();
  probe->table =
      "20 1 254:1 / / rw - ext4 /dev/vda1 rw\n"
      "40 20 0:22 / /proc rw - proc proc rw\n"
      "41 20 8:17 / /mnt/stick rw - vfat /dev/sdb1 rw\n"
      "42 20 8:33 / /run/media/u/DISK rw - ext4 /dev/sdc1 rw\n"
      "43 20 0:55 / /srv/share rw - nfs4 nas:/share rw\n"
      "44 20 0:56 / /srv/share rw - tmpfs tmpfs rw\n";
  probe->removable = {{8, 17}};
  auto volumes = platform::makeLinuxVolumes(probe)->mountedVolumes();
  EXPECT_EQ(volumes, (std::vector<MountedVolume>{{"/", "/dev/vda1", "ext4", true, false},
                                                 {"/proc", "proc", "proc", false, false},
                                                 {"/mnt/stick", "/dev/sdb1", "vfat", false, true},
                                                 {"/run/media/u/DISK", "/dev/sdc1", "ext4", false, true},
                                                 {"/srv/share", "tmpfs", "tmpfs", false, false}}));
  EXPECT_TRUE(platform::isNetworkFileSystemType("nfs4"));
  EXPECT_TRUE(platform::isNetworkFileSystemType("fuse.sshfs"));
  EXPECT_TRUE(platform::isNetworkFileSystemType("fuse.gvfsd-fuse"));
  EXPECT_FALSE(platform::isNetworkFileSystemType("ext4"));
  probe->table.reset();
  EXPECT_TRUE(platform::makeLinuxVolumes(probe)->mountedVolumes().empty());
}

TEST(DiskImageSystemTest, AFileOnTheStartUpVolumeIsNotOnAnImage) {
  auto volume = platform::Volumes::shared().volumeOfFolder("/");
  ASSERT_TRUE(volume);
  EXPECT_TRUE(volume->isRootVolume);
  EXPECT_FALSE(isOnDiskImage(FileURL::fileURLWithPath("/etc/hostname")));
  EXPECT_FALSE(platform::Volumes::shared().volumeOfFolder("/no/such/folder/at/all"));
}

// Runs a system tool; true when it exits with 0.
bool run(const std::string& path, const std::vector<std::string>& arguments, std::string* output = nullptr) {
  auto result = platform::runProcess(path, arguments);
  if (output && result) *output = result->standardOutput;
  return result && result->exitStatus == 0;
}

std::string tool(std::initializer_list<const char*> candidates) {
  for (const char* candidate : candidates) {
    std::error_code error;
    if (fs::exists(candidate, error)) return candidate;
  }
  return {};
}

TEST(DiskImageSystemTest, AFileOnAnAttachedLoopImageIsOnAnImage) {
  const std::string losetup = tool({"/usr/sbin/losetup", "/sbin/losetup"});
  const std::string mkfs = tool({"/usr/sbin/mkfs.ext4", "/sbin/mkfs.ext4"});
  const std::string mount = tool({"/usr/bin/mount", "/bin/mount"});
  const std::string umount = tool({"/usr/bin/umount", "/bin/umount"});
  if (losetup.empty() || mkfs.empty() || mount.empty() || umount.empty()) GTEST_SKIP() << "no losetup, mkfs.ext4 or mount";
  const fs::path work = fs::temp_directory_path() / ("vantel-loop-" + std::to_string(std::random_device()()));
  fs::create_directories(work / "mnt");
  const fs::path image = work / "installer.img";
  { std::ofstream(image, std::ios::binary).put('\0'); }
  fs::resize_file(image, 4 * 1024 * 1024);
  std::string device;
  if (!run(mkfs, {"-q", "-F", image.string()}) || !run(losetup, {"-f", "--show", image.string()}, &device)) {
    fs::remove_all(work);
    GTEST_SKIP() << "cannot attach a loop device here (needs root)";
  }
  while (!device.empty() && device.back() == '\n') device.pop_back();
  if (!run(mount, {device, (work / "mnt").string()})) {
    run(losetup, {"-d", device});
    fs::remove_all(work);
    GTEST_SKIP() << "cannot mount the loop device here";
  }
  { std::ofstream(work / "mnt/Installer.app") << "x"; }

  auto volume = platform::Volumes::shared().volumeOfFolder((work / "mnt").string());
  const bool found = isOnDiskImage(FileURL::fileURLWithPath((work / "mnt/Installer.app").string()));
  const bool besideTheImage = isOnDiskImage(FileURL::fileURLWithPath(image.string()));
  const auto loops = platform::Volumes::shared().attachedLoopDevices();

  run(umount, {(work / "mnt").string()});
  run(losetup, {"-d", device});
  fs::remove_all(work);

  ASSERT_TRUE(volume);
  EXPECT_EQ(volume->mountedFrom, device);
  EXPECT_FALSE(volume->isRootVolume);
  EXPECT_TRUE(found);
  EXPECT_FALSE(besideTheImage);
  EXPECT_TRUE(std::any_of(loops.begin(), loops.end(), [&](const LoopDevice& loop) {
    return loop.device == device && loop.backingFile == image.string();
  }));
}

}  // namespace
}  // namespace vantelkit

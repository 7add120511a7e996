#include "vantelkit/clean/XdgHomeScanProcedure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <map>
#include <tuple>

#include "fixtures/LinuxDemoHome.h"
#include "support/FakeFlatpakInstallations.h"
#include "support/FakeVolumes.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/clean/CleanScanner.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/metadata/WalkingMetadataIndex.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/Volumes.h"

namespace vantelkit {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using ::testing::UnorderedElementsAre;
using Group = CleanScanGroup;
using Scan = XdgHomeScanProcedure;

// name → (size, reason) of a group's items.
using Listing = std::map<std::string, std::pair<std::uint64_t, std::string>>;

Listing listing(const CleanScanItemSet& items) {
  Listing result;
  for (const auto& item : items) result[item->name().value_or("?")] = {item->size, item->reason.value_or("")};
  return result;
}

void setModified(const std::string& path, std::chrono::system_clock::time_point when) {
  std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(when));
}

class XdgHomeScanProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Paths::setHomeOverride(tree.path("home"));
    platform::Paths::setRootOverride(tree.path("root"));
    tree.directory("home");
    tree.directory("root");
  }
  void TearDown() override {
    MainQueue::runUntil([] { return MainQueue::pendingCount() == 0; }, 5);
    platform::Paths::setHomeOverride(std::nullopt);
    platform::Paths::setRootOverride(std::nullopt);
  }

  XdgHomeScan scan(Scan::Settings settings = {}) {
    auto procedure = std::make_shared<Scan>(std::move(settings));
    ProcedureQueue queue;
    queue.addOperation(procedure);
    EXPECT_TRUE(MainQueue::runUntil([&] { return procedure->isFinished(); }, 60));
    unreadable = procedure->unreadable();
    return procedure->successValue().value_or(XdgHomeScan{});
  }

  vantel::testing::ScanFixtureTree tree;
  Scan::Unreadable unreadable;
};

TEST(XdgHomeScanProcedureNames, DownloadsAreSortedByTheirEndingsIgnoringCase) {
  EXPECT_EQ(Scan::downloadKind("film.mkv.PART"), Scan::DownloadKind::unfinished);
  EXPECT_EQ(Scan::downloadKind("a.crdownload"), Scan::DownloadKind::unfinished);
  EXPECT_EQ(Scan::downloadKind("x.deb"), Scan::DownloadKind::package);
  EXPECT_EQ(Scan::downloadKind("Tool.AppImage"), Scan::DownloadKind::package);
  EXPECT_EQ(Scan::downloadKind("disk.QCOW2"), Scan::DownloadKind::diskImage);
  EXPECT_EQ(Scan::downloadKind(".deb"), Scan::DownloadKind::download);  // a name, not an ending
  EXPECT_EQ(Scan::downloadKind("notes.debx"), Scan::DownloadKind::download);
  EXPECT_EQ(Scan::installerReason("a.flatpakref"), "Flatpak install link");
  EXPECT_EQ(Scan::diskImageReason("a.vmdk"), "virtual machine disk");
  EXPECT_EQ(Scan::diskImageReason("a.txt"), std::nullopt);
}

TEST(XdgHomeScanProcedureNames, ACacheIsTiedToTheFirstFieldOfAnApplicationThatMatches) {
  Scan::Application firefox{"Firefox", "org.mozilla.firefox.desktop", "org.mozilla.firefox", "", "firefox", ""};
  EXPECT_EQ(Scan::cacheReason("org.mozilla.firefox", firefox), "cache of Firefox (org.mozilla.firefox)");
  EXPECT_EQ(Scan::cacheReason("FIREFOX", firefox), "cache of Firefox (firefox)");
  EXPECT_EQ(Scan::cacheReason("mozilla", firefox), std::nullopt);
  EXPECT_EQ(Scan::cacheReason("", Scan::Application{}), std::nullopt);
  Scan::Application code{"Visual Studio Code", "code.desktop", "", "", "code", ""};
  EXPECT_EQ(Scan::cacheReason("code", code), "cache of Visual Studio Code (code)");
}

TEST_F(XdgHomeScanProcedureTest, TheLinuxDemoHomeGivesEachGroupItsItemsWithTheirReasons) {
  tree.directory("demo");
  std::filesystem::remove(tree.path("home"));
  std::filesystem::remove(tree.path("root"));
  auto written = fixtures::writeLinuxDemoHome(tree.path("demo/x"));
  ASSERT_TRUE(std::holds_alternative<fixtures::DemoHomeLayout>(written));
  platform::Paths::setHomeOverride(tree.path("demo/x/home"));
  platform::Paths::setRootOverride(tree.path("demo/x/root"));
  auto found = scan();
  EXPECT_THAT(unreadable, IsEmpty());
  const std::string idle = ", untouched for 90 days";
  EXPECT_THAT(listing(found.downloads),
              UnorderedElementsAre(Pair("bank-statement-2026-11.pdf", Pair(120'000, "downloaded file")),
                                   Pair("holiday-photos.zip", Pair(640'000, "downloaded file")),
                                   Pair("screen-recording.mkv", Pair(180'000'000, "downloaded file")),
                                   Pair("debian-12.8.0-amd64-DVD-1.iso.part", Pair(2'500'000, "unfinished download")),
                                   Pair("conference-talk.mp4.crdownload", Pair(800'000, "unfinished download")),
                                   Pair("fonts.tar.gz.download", Pair(300'000, "unfinished download"))));
  EXPECT_THAT(listing(found.packages),
              UnorderedElementsAre(
                  Pair("code_1.95.3_amd64.deb", Pair(950'000, "installer package")),
                  Pair("Nimbus-2.7-x86_64.AppImage", Pair(1'400'000, "AppImage application")),
                  Pair("archives", Pair(3'700'000, "packages apt downloaded (removing them needs root)")),
                  Pair("flatpak-cache-8XK2Q1", Pair(700'000, "leftover Flatpak download"))));
  EXPECT_THAT(listing(found.diskImages),
              ElementsAre(Pair("debian-12.8.0-amd64-netinst.iso", Pair(3'000'000, "disk image"))));
  EXPECT_THAT(listing(found.userCache),
              UnorderedElementsAre(
                  Pair("mozilla", Pair(1'200'000, "application cache")), Pair("vlc", Pair(150'000, "application cache")),
                  Pair("fontconfig", Pair(200'000, "application cache")), Pair("gimp", Pair(90'000, "application cache")),
                  Pair("org.mozilla.firefox", Pair(1'000'000, "cache of the Flatpak application org.mozilla.firefox")),
                  Pair("org.example.Paint", Pair(90'000, "cache of Paint (org.example.Paint)")),
                  Pair("TextPadMain", Pair(40'000, "cache of TextPad (TextPadMain)")),
                  Pair("spotify common", Pair(600'000, "cache of the Snap spotify")),
                  Pair("spotify 72", Pair(100'000, "cache of the Snap spotify")),
                  Pair("Code (Cache)", Pair(300'000, "Chromium-style cache of Code")),
                  Pair("Code (Code Cache)", Pair(200'000, "Chromium-style cache of Code")),
                  Pair("Code (GPUCache)", Pair(50'000, "Chromium-style cache of Code"))));
  EXPECT_THAT(listing(found.userLogs),
              UnorderedElementsAre(Pair("boxes.log", Pair(40'000, "log file")),
                                   Pair("logs", Pair(60'000, "log folder")),
                                   Pair("debug.log", Pair(15'000, "log file")),
                                   Pair(".xsession-errors", Pair(25'000, "X session error log")),
                                   Pair(".xsession-errors.old", Pair(18'000, "X session error log of the session before"))));
  EXPECT_THAT(listing(found.developer),
              UnorderedElementsAre(Pair("pip cache", Pair(700'000, "download cache of pip")),
                                   Pair("npm cache", Pair(800'000, "package cache of npm")),
                                   Pair("Cargo registry", Pair(900'000, "crates Cargo downloaded")),
                                   Pair("Go build cache", Pair(400'000, "build cache of Go")),
                                   Pair("Gradle caches", Pair(300'000, "cache of Gradle")),
                                   Pair("Maven repository", Pair(250'000, "artifacts Maven downloaded")),
                                   Pair("ccache", Pair(150'000, "compiler cache of ccache")),
                                   Pair("web-shop/node_modules", Pair(1'100'000, "npm packages" + idle)),
                                   Pair("rust-tool/target", Pair(2'000'177, "Rust build output" + idle)),
                                   Pair("scraper/__pycache__", Pair(30'000, "Python bytecode" + idle)),
                                   Pair("scraper/.venv", Pair(500'200, "Python virtual environment" + idle))));
  EXPECT_THAT(listing(found.mailAttachments),
              UnorderedElementsAre(Pair("alice@example.org (Geary)", Pair(435'000, "attachments Geary downloaded")),
                                   Pair("1733400000.4242.3@laptop", Pair(330'000, "mail cache of Evolution"))));
  for (const auto& item : found.mailAttachments) {
    if (item->file) continue;
    EXPECT_THAT(listing(CleanScanItemSet(item->children.begin(), item->children.end())),
                UnorderedElementsAre(Pair("site-plan.png", Pair(260'000, "attachment kept by Geary")),
                                     Pair("2 files named invoice.pdf", Pair(175'000, "attachment kept by Geary"))));
  }
}

TEST_F(XdgHomeScanProcedureTest, TheActivityGuardLooksAtTheNewestChangeAnywhereInsideABuildFolder) {
  const auto now = std::chrono::system_clock::now();
  const auto old = now - std::chrono::hours(24 * 40);
  for (const char* project : {"home/quiet", "home/busy", "home/fresh-folder"}) {
    tree.file(std::string(project) + "/package.json", 10);
    tree.file(std::string(project) + "/node_modules/a/b/c/index.js", 100);
    for (const char* inside : {"/node_modules/a/b/c/index.js", "/node_modules/a/b/c", "/node_modules/a/b",
                               "/node_modules/a", "/node_modules"})
      setModified(tree.path(std::string(project) + inside), old);
  }
  // A file deep inside changed yesterday; a folder inside changed an hour ago.
  setModified(tree.path("home/busy/node_modules/a/b/c/index.js"), now - std::chrono::hours(24));
  setModified(tree.path("home/busy/node_modules/a/b/c"), old);
  setModified(tree.path("home/fresh-folder/node_modules/a/b"), now - std::chrono::hours(1));

  auto names = [](const CleanScanItemSet& items) {
    std::vector<std::string> result;
    for (const auto& item : items) result.push_back(*item->name());
    std::sort(result.begin(), result.end());
    return result;
  };
  EXPECT_THAT(names(scan().developer), ElementsAre("quiet/node_modules"));
  EXPECT_THAT(names(scan({.buildFolderIdleDays = 60}).developer), IsEmpty());
  EXPECT_THAT(names(scan({.buildFolderIdleDays = 0}).developer),
              ElementsAre("busy/node_modules", "fresh-folder/node_modules", "quiet/node_modules"));
}

TEST_F(XdgHomeScanProcedureTest, BuildFoldersAreTakenOutermostAndNeverFromHiddenOrXdgFolders) {
  const auto old = std::chrono::system_clock::now() - std::chrono::hours(24 * 100);
  tree.file("home/app/node_modules/dep/node_modules/inner/x.js", 50);
  tree.file("home/app/node_modules/dep/index.js", 20);
  tree.file("home/.vscode/extensions/ext/node_modules/y.js", 70);
  tree.file("home/.local/share/pipx/venvs/black/pyvenv.cfg", 5);
  tree.file("home/.cache/yarn/v6/node_modules/z.js", 80);
  tree.file("home/notes/target/list.txt", 5);  // no Cargo.toml beside it
  for (const char* path : {"home/app/node_modules/dep/node_modules/inner/x.js", "home/app/node_modules/dep/node_modules/inner",
                           "home/app/node_modules/dep/node_modules", "home/app/node_modules/dep/index.js",
                           "home/app/node_modules/dep", "home/app/node_modules"})
    setModified(tree.path(path), old);
  auto found = scan();
  EXPECT_THAT(listing(found.developer), ElementsAre(Pair("app/node_modules", Pair(70, "npm packages, untouched for 100 days"))));
  EXPECT_THAT(listing(found.userCache), ElementsAre(Pair("yarn", Pair(80, "application cache"))));
}

TEST_F(XdgHomeScanProcedureTest, KeptCachesThumbnailsAndTrashAreNotListedAndCachesMatchApplications) {
  tree.file("home/.cache/mesa_shader_cache/index", 10);
  tree.file("home/.cache/ksycoca5_en_abc", 10);
  tree.file("home/.cache/thumbnails/normal/a.png", 10);
  tree.file("home/.local/share/Trash/files/old.log", 10);
  tree.file("home/.cache/vlc/a", 30);
  tree.file("home/.var/app/org.mozilla.firefox/cache/b", 40);
  tree.file("home/.var/app/org.example.NoCache/data/c", 40);
  Scan::Application firefox{"Firefox", "org.mozilla.firefox.desktop", "org.mozilla.firefox", "", "firefox", ""};
  Scan::Application vlc{"VLC media player", "vlc.desktop", "", "", "vlc", ""};
  auto found = scan({.applications = std::vector{firefox, vlc}});
  EXPECT_THAT(listing(found.userCache),
              UnorderedElementsAre(Pair("vlc", Pair(30, "cache of VLC media player (vlc)")),
                                   Pair("org.mozilla.firefox", Pair(40, "cache of Firefox (org.mozilla.firefox)"))));
  EXPECT_THAT(listing(found.userLogs), IsEmpty());
}

TEST_F(XdgHomeScanProcedureTest, TheXdgVariablesAreIgnoredWithAHomeOverrideAndHonouredWithout) {
  tree.file("home/.cache/app-a/x", 10);
  tree.file("elsewhere/cache/app-b/y", 20);
  tree.file("elsewhere/downloads/file.txt", 5);
  tree.file("home/.config/user-dirs.dirs", 0);
  ::setenv("XDG_CACHE_HOME", tree.path("elsewhere/cache").c_str(), 1);
  auto withOverride = scan();
  EXPECT_THAT(listing(withOverride.userCache), ElementsAre(Pair("app-a", Pair(10, "application cache"))));

  platform::Paths::setHomeOverride(std::nullopt);
  platform::Paths::setRootOverride(std::nullopt);
  const char* savedHome = std::getenv("HOME");
  const std::string homeBefore = savedHome ? savedHome : "";
  ::setenv("HOME", tree.path("home").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", tree.path("elsewhere/config").c_str(), 1);
  tree.file("elsewhere/config/user-dirs.dirs", 0);
  {
    std::ofstream dirs(tree.path("elsewhere/config/user-dirs.dirs"));
    dirs << "XDG_DOWNLOAD_DIR=\"" << tree.path("elsewhere/downloads") << "\"\n";
  }
  auto withEnvironment = scan();
  ::unsetenv("XDG_CACHE_HOME");
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", homeBefore.c_str(), 1);
  EXPECT_THAT(listing(withEnvironment.userCache), ElementsAre(Pair("app-b", Pair(20, "application cache"))));
  EXPECT_THAT(listing(withEnvironment.downloads), ElementsAre(Pair("file.txt", Pair(5, "downloaded file"))));
}

TEST_F(XdgHomeScanProcedureTest, NetworkAndRemovableVolumesInsideTheHomeAreNotWalked) {
  tree.file("home/.cache/nas/a", 10);
  tree.file("home/.cache/stick/b", 20);
  tree.file("home/.cache/disk/c", 30);
  auto volumes = std::make_shared<vantel::testing::FakeVolumes>();
  volumes->volumes = {{.mountPoint = "/", .filesystemType = "ext4", .isRootVolume = true},
                      {.mountPoint = tree.path("home/.cache/nas"), .filesystemType = "nfs4"},
                      {.mountPoint = tree.path("home/.cache/stick"), .filesystemType = "vfat", .isRemovable = true},
                      {.mountPoint = tree.path("home/.cache/disk"), .filesystemType = "ext4"}};
  platform::Volumes::setShared(volumes);
  auto found = scan();
  platform::Volumes::setShared(nullptr);
  EXPECT_THAT(listing(found.userCache), ElementsAre(Pair("disk", Pair(30, "application cache"))));
}

TEST_F(XdgHomeScanProcedureTest, FlatpakRuntimesThatNoApplicationRunsOnAreInstallerPackages) {
  using vantel::testing::FakeFlatpakInstallations;
  auto runtime = [&](const std::string& id, const std::string& branch, std::int64_t bytes) {
    auto ref = FakeFlatpakInstallations::runtime(id, branch);
    const std::string deployed = "root/var/lib/flatpak/runtime/" + id + "/x86_64/" + branch + "/active";
    tree.file(deployed + "/files/lib/libexample.so", bytes);
    ref.deployDirectory = tree.path(deployed);
    return ref;
  };
  auto fake = std::make_shared<FakeFlatpakInstallations>();
  fake->listing.refs = {
      FakeFlatpakInstallations::application("org.example.Paint", "1.0", "org.freedesktop.Platform/x86_64/23.08"),
      runtime("org.freedesktop.Platform", "23.08", 100),               // in use
      runtime("org.freedesktop.Platform", "22.08", 200),               // an older branch nothing runs on
      runtime("org.freedesktop.Platform.GL.default", "23.08", 300),    // the driver of a runtime in use
      runtime("org.example.Paint.Locale", "stable", 40),               // an application's own extension
      runtime("org.gtk.Gtk3theme.Adwaita-dark", "3.22", 50),           // a theme, loaded unnamed
      runtime("org.kde.Platform", "5.15-23.08", 400),                  // nothing runs on it
  };
  platform::FlatpakInstallations::setShared(fake);
  auto found = scan();
  platform::FlatpakInstallations::setShared(nullptr);
  const std::string reason = "Flatpak runtime no installed application uses (system installation)";
  EXPECT_THAT(listing(found.packages),
              UnorderedElementsAre(Pair("runtime/org.freedesktop.Platform/x86_64/22.08", Pair(200, reason)),
                                   Pair("runtime/org.kde.Platform/x86_64/5.15-23.08", Pair(400, reason))));
}

TEST_F(XdgHomeScanProcedureTest, WithoutAGivenListTheMenusApplicationsOwnTheirCaches) {
  tree.file("home/.local/share/applications/org.example.Editor.desktop", 0);
  {
    std::ofstream entry(tree.path("home/.local/share/applications/org.example.Editor.desktop"));
    entry << "[Desktop Entry]\nType=Application\nName=Editor\nExec=/bin/true --edit\nStartupWMClass=EditorMain\n";
  }
  tree.file("home/.cache/EditorMain/x", 10);
  tree.file("home/.cache/org.example.Editor/y", 20);
  tree.file("home/.cache/true/z", 30);
  EXPECT_THAT(listing(scan().userCache),
              UnorderedElementsAre(Pair("EditorMain", Pair(10, "cache of Editor (EditorMain)")),
                                   Pair("org.example.Editor", Pair(20, "cache of Editor (org.example.Editor)")),
                                   Pair("true", Pair(30, "cache of Editor (true)"))));
}

TEST_F(XdgHomeScanProcedureTest, LinksAreNeverFollowedAndSizesCanBeTheBytesOnDisk) {
  tree.directory("outside");
  tree.file("outside/big", 5000);
  tree.symbolicLink("home/.cache/linked", tree.path("outside"));
  tree.file("home/.cache/app/inside", 100);
  tree.symbolicLink("home/.cache/app/link", tree.path("outside/big"));
  tree.sparseFile("home/.cache/sparse/hole", 10'000'000);
  auto logical = listing(scan().userCache);
  EXPECT_EQ(logical["app"].first, 100u);
  EXPECT_EQ(logical["sparse"].first, 10'000'000u);
  EXPECT_FALSE(logical.contains("linked"));
  auto usage = listing(scan({.measuresUsage = true}).userCache);
  EXPECT_LT(usage["sparse"].first, 1'000'000u);
}

// The whole scan on the xdg layout: the groups from the walk, the home-wide searches answered
// from it, each file in one group.
TEST_F(XdgHomeScanProcedureTest, TheCleanScannerOnTheXdgLayoutPutsEachFileInOneGroup) {
  tree.file("home/Downloads/big.iso", 10);
  tree.sparseFile("home/Downloads/huge.bin", 150'000'000);
  tree.sparseFile("home/Videos/film.mov", 120'000'000);
  tree.file("home/Documents/setup.rpm", 30);
  tree.file("home/Documents/VM/disk.vdi", 40);
  tree.file("home/.hidden/secret.deb", 50);  // hidden folders are not searched
  tree.file("home/p/Cargo.toml", 1);
  tree.file("home/p/target/release/tool.deb", 60);  // inside a build folder: a developer file
  setModified(tree.path("home/p/target/release/tool.deb"), std::chrono::system_clock::now() - std::chrono::hours(24 * 50));
  setModified(tree.path("home/p/target/release"), std::chrono::system_clock::now() - std::chrono::hours(24 * 50));
  setModified(tree.path("home/p/target"), std::chrono::system_clock::now() - std::chrono::hours(24 * 50));
  // The home-wide queries are answered from the home scan's walk: the shared index walks nothing.
  auto index = WalkingMetadataIndex::make();
  MetadataIndex::setShared(index);
  auto scanner = CleanScanner::make();
  scanner->setSettings({.layout = platform::Paths::Layout::xdg});
  struct Finished : CleanScannerListener {
    bool done = false;
    void scanDidFinish() override { done = true; }
  };
  auto listener = std::make_shared<Finished>();
  scanner->addListener(listener);
  scanner->start();
  ASSERT_TRUE(MainQueue::runUntil([&] { return listener->done; }, 60));
  MetadataIndex::setShared(nullptr);
  EXPECT_EQ(index->walksStarted(), 0);
  auto groups = scanner->groups();
  EXPECT_THAT(listing(groups[Group::downloads]), ElementsAre(Pair("huge.bin", Pair(150'000'000, "downloaded file"))));
  EXPECT_THAT(listing(groups[Group::diskImages]),
              UnorderedElementsAre(Pair("big.iso", Pair(10, "disk image")), Pair("disk.vdi", Pair(40, "virtual machine disk"))));
  EXPECT_THAT(listing(groups[Group::packages]), ElementsAre(Pair("setup.rpm", Pair(30, "installer package"))));
  EXPECT_THAT(listing(groups[Group::largeFiles]), ElementsAre(Pair("film.mov", Pair(120'000'000, "larger than 100 MB"))));
  EXPECT_THAT(listing(groups[Group::developer]), ElementsAre(Pair("p/target", Pair(60, "Rust build output, untouched for 50 days"))));
  EXPECT_THAT(scanner->unreadable(), IsEmpty());
}

}  // namespace
}  // namespace vantelkit

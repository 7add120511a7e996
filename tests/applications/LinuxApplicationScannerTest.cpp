#include "vantelkit/applications/LinuxApplicationScanner.h"

#include <gtest/gtest.h>

#include <map>

#include "fixtures/LinuxApplications.h"
#include "support/FakeFlatpakInstallations.h"
#include "support/FaultInjectingDirectoryReader.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/DirectoryReader.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using platform::Paths;
using Category = LinuxApplicationResource::Category;
using Key = LinuxStorageEvidence::Key;
using Match = LinuxStorageEvidence::Match;
using Reason = LinuxLeftover::Reason;

struct Recorder final : ApplicationScannerListener {
  bool started = false;
  bool finished = false;
  std::vector<double> progress;
  void scanDidStart() override { started = true; }
  void scanDidFinish() override { finished = true; }
  void progressUpdate(double value, const std::string&) override { progress.push_back(value); }
};

class LinuxApplicationScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    layout = {tree.directory("home"), tree.directory("root")};
    fixtures::writeLinuxApplications(layout);
    Paths::setRootOverride(layout.root);
    Paths::setHomeOverride(layout.home);
    flatpaks = std::make_shared<vantel::testing::FakeFlatpakInstallations>();
    flatpaks->listing.refs = {
        vantel::testing::FakeFlatpakInstallations::application("org.example.Paint", "3.1",
                                                                "org.freedesktop.Platform/x86_64/23.08"),
        vantel::testing::FakeFlatpakInstallations::runtime("org.freedesktop.Platform", "23.08")};
    flatpaks->listing.refs[0].installedSize = 5000000;
    platform::FlatpakInstallations::setShared(flatpaks);
  }
  void TearDown() override {
    Paths::setHomeOverride(std::nullopt);
    Paths::setRootOverride(std::nullopt);
    platform::FlatpakInstallations::setShared(nullptr);
    platform::DirectoryReader::setShared(nullptr);
  }

  void scan() {
    scanner = LinuxApplicationScanner::make();
    scanner->setCatalogOptions({.desktops = std::vector<std::string>{}, .locale = "de_DE.UTF-8", .dataDirectories = std::nullopt});
    recorder = std::make_shared<Recorder>();
    scanner->addListener(recorder);
    scanner->start();
    ASSERT_TRUE(MainQueue::runUntil([this] { return recorder->finished; }, 60));
    for (const auto& record : scanner->applications()) records[record.application.entry.desktopId] = record;
    for (const auto& leftover : scanner->leftovers()) leftovers[leftover.path.substr(layout.home.size() + 1)] = leftover;
  }
  // The resource at home + relative of the application desktopId.
  const LinuxApplicationResource* resource(const std::string& desktopId, const std::string& relative) {
    for (const auto& resource : records.at(desktopId).resources) {
      if (resource.path == layout.home + "/" + relative) return &resource;
    }
    return nullptr;
  }

  vantel::testing::ScanFixtureTree tree;
  fixtures::DemoHomeLayout layout;
  std::shared_ptr<vantel::testing::FakeFlatpakInstallations> flatpaks;
  std::shared_ptr<LinuxApplicationScanner> scanner;
  std::shared_ptr<Recorder> recorder;
  std::map<std::string, LinuxApplicationRecord> records;
  std::map<std::string, LinuxLeftover> leftovers;
};

TEST_F(LinuxApplicationScannerTest, ListsTheApplicationsAMenuShowsWithTheirKinds) {
  scan();
  EXPECT_TRUE(recorder->started);
  ASSERT_FALSE(recorder->progress.empty());
  EXPECT_EQ(recorder->progress.back(), 1.0);
  std::vector<std::string> ids;
  for (const auto& [id, record] : records) ids.push_back(id);
  // Not the NoDisplay handler, the System Monitor a user entry hides, the broken or the malformed one.
  EXPECT_EQ(ids, (std::vector<std::string>{"appimagekit_sketch.desktop", "notes_notes.desktop", "org.example.Gallery.desktop",
                                           "org.example.Paint.desktop", "scratch.desktop", "textpad.desktop"}));
  EXPECT_EQ(records.at("textpad.desktop").application.entry.name, "Textblock");
  EXPECT_EQ(records.at("textpad.desktop").application.kind, LinuxApplication::Kind::systemPackage);
  EXPECT_EQ(records.at("scratch.desktop").application.kind, LinuxApplication::Kind::userEntry);
  EXPECT_EQ(records.at("appimagekit_sketch.desktop").application.kind, LinuxApplication::Kind::appImage);
  EXPECT_EQ(records.at("appimagekit_sketch.desktop").version, "1.2");
  EXPECT_EQ(records.at("appimagekit_sketch.desktop").applicationSize, 180000);
  const auto& paint = records.at("org.example.Paint.desktop");
  EXPECT_EQ(paint.application.kind, LinuxApplication::Kind::flatpak);
  EXPECT_EQ(paint.version, "3.1");
  EXPECT_EQ(paint.runtime, "org.freedesktop.Platform/x86_64/23.08");
  EXPECT_EQ(paint.applicationSize, 5000000);
  const auto& notes = records.at("notes_notes.desktop");
  EXPECT_EQ(notes.application.kind, LinuxApplication::Kind::snap);
  EXPECT_EQ(notes.version, "2.4");
  EXPECT_EQ(notes.versionSource, "snap");
  EXPECT_TRUE(scanner->unreadable().empty());
}

TEST_F(LinuxApplicationScannerTest, EveryAttributionNamesItsEvidence) {
  scan();
  struct Expected {
    std::string application;
    std::string relative;
    Category category;
    Key key;
    Match match;
    std::int64_t size;
  };
  const std::vector<Expected> expected{
      {"textpad.desktop", ".config/textpad", Category::config, Key::desktopId, Match::equalIgnoringCase, 1200},
      {"textpad.desktop", ".cache/TextPadMain", Category::cache, Key::startupWMClass, Match::equalIgnoringCase, 40000},
      {"textpad.desktop", ".config/textpadrc", Category::config, Key::desktopId, Match::equalAfterRemovingSuffix, 300},
      {"textpad.desktop", ".local/state/textpad-sessions", Category::state, Key::desktopId, Match::contained, 800},
      {"textpad.desktop", ".config/autostart/textpad.desktop", Category::autostart, Key::desktopId, Match::equalIgnoringCase, -1},
      {"org.example.Gallery.desktop", ".config/gallery-viewer", Category::config, Key::executableName, Match::equalIgnoringCase, 500},
      {"org.example.Gallery.desktop", ".local/share/Gallery", Category::data, Key::reverseDnsLastPart, Match::equalIgnoringCase, 64000},
      {"scratch.desktop", ".config/scratch", Category::config, Key::desktopId, Match::equalIgnoringCase, 100},
      {"appimagekit_sketch.desktop", ".config/Sketch", Category::config, Key::startupWMClass, Match::equalIgnoringCase, 2500},
      {"org.example.Paint.desktop", ".var/app/org.example.Paint/cache", Category::flatpakCache, Key::flatpakId, Match::equalIgnoringCase, 90000},
      {"org.example.Paint.desktop", ".var/app/org.example.Paint/config", Category::flatpakConfig, Key::flatpakId, Match::equalIgnoringCase, 400},
      {"org.example.Paint.desktop", ".var/app/org.example.Paint/data", Category::flatpakData, Key::flatpakId, Match::equalIgnoringCase, 1500},
      {"notes_notes.desktop", "snap/notes", Category::snapData, Key::snapName, Match::equalIgnoringCase, 12000},
      {"notes_notes.desktop", ".notes", Category::homeFolder, Key::snapName, Match::equalIgnoringCase, 700},
  };
  std::size_t count = 0;
  for (const auto& [id, record] : records) count += record.resources.size();
  EXPECT_EQ(count, expected.size());
  for (const auto& e : expected) {
    const auto* found = resource(e.application, e.relative);
    ASSERT_NE(found, nullptr) << e.relative;
    EXPECT_EQ(found->category, e.category) << e.relative;
    EXPECT_EQ(found->evidence.key, e.key) << e.relative;
    EXPECT_EQ(found->evidence.match, e.match) << e.relative;
    if (e.size >= 0) {
      EXPECT_EQ(found->size, e.size) << e.relative;
    }
    EXPECT_FALSE(found->error) << e.relative;
  }
  EXPECT_EQ(resource("textpad.desktop", ".config/textpadrc")->evidence.removedSuffix, "rc");
  // textpad is also the Scratch Pad's executable: the stronger desktop ID wins, the other is named.
  EXPECT_EQ(resource("textpad.desktop", ".config/textpad")->otherCandidates, (std::vector<std::string>{"scratch.desktop", "textpad-handler.desktop"}));
  EXPECT_TRUE(resource("org.example.Gallery.desktop", ".local/share/Gallery")->otherCandidates.empty());
}

TEST_F(LinuxApplicationScannerTest, LeftoversHaveTheirReasonAndTheDesktopsOwnFoldersNone) {
  scan();
  const std::map<std::string, Reason> expected{
      {".var/app/org.example.OldGame", Reason::noInstalledFlatpak},
      {"snap/oldsnap", Reason::noInstalledSnap},
      {".config/oldapp", Reason::matchesNoApplication},
      {".oldtool", Reason::matchesNoApplication},
      {".config/autostart/oldsync.desktop", Reason::brokenAutostartEntry},
      {".local/share/applications/broken-syntax.desktop", Reason::malformedEntry},
  };
  std::map<std::string, Reason> homeLeftovers;
  std::vector<LinuxLeftover> elsewhere;
  for (const auto& leftover : scanner->leftovers()) {
    if (leftover.path.starts_with(layout.home + "/")) {
      homeLeftovers[leftover.path.substr(layout.home.size() + 1)] = leftover.reason;
    } else {
      elsewhere.push_back(leftover);
    }
  }
  EXPECT_EQ(homeLeftovers, expected);
  ASSERT_EQ(elsewhere.size(), 1u);
  EXPECT_EQ(elsewhere[0].path, layout.root + "/usr/share/applications/vanished.desktop");
  EXPECT_EQ(elsewhere[0].reason, Reason::brokenEntry);
  EXPECT_EQ(elsewhere[0].detail, "Exec program not found: /opt/vanished/bin/vanished");
  EXPECT_EQ(leftovers.at(".var/app/org.example.OldGame").size, 25000);
  EXPECT_EQ(leftovers.at(".var/app/org.example.OldGame").detail, "no installed Flatpak has the ID org.example.OldGame");
  EXPECT_EQ(leftovers.at(".config/oldapp").size, 600);
  EXPECT_EQ(leftovers.at(".local/share/applications/broken-syntax.desktop").detail, "line 4: a line that is neither a group, a key, a comment nor blank");
}

TEST_F(LinuxApplicationScannerTest, AFlatpakInstalledWithoutAMenuEntryOwnsItsFolder) {
  flatpaks->listing.refs.push_back(vantel::testing::FakeFlatpakInstallations::application("org.example.OldGame", "1", "r/x/1"));
  scan();
  EXPECT_FALSE(leftovers.contains(".var/app/org.example.OldGame"));
}

TEST_F(LinuxApplicationScannerTest, TheKeepListIsNeverLeftOver) {
  for (const auto& [category, name] : std::vector<std::pair<Category, std::string>>{
           {Category::config, "user-dirs.dirs"}, {Category::config, "dconf"}, {Category::config, "autostart"},
           {Category::config, "gtk-3.0"}, {Category::cache, "thumbnails"}, {Category::data, "Trash"},
           {Category::data, "keyrings"}, {Category::data, "applications"}, {Category::data, "flatpak"},
           {Category::data, "mime"}, {Category::data, "fonts"}, {Category::homeFolder, ".ssh"},
           {Category::homeFolder, ".gnupg"}, {Category::homeFolder, ".config"}, {Category::homeFolder, ".cache"},
           {Category::homeFolder, ".local"}}) {
    EXPECT_TRUE(isKeptStorage(category, name)) << name;
  }
  EXPECT_FALSE(isKeptStorage(Category::config, "oldapp"));
  scan();
  for (const auto& [path, leftover] : leftovers) {
    for (const char* kept : {".config/user-dirs.dirs", ".config/dconf", ".config/gtk-3.0", ".cache/thumbnails",
                             ".local/share/Trash", ".local/share/keyrings", ".ssh", ".gnupg", ".local"}) {
      EXPECT_NE(path, kept);
    }
  }
}

TEST_F(LinuxApplicationScannerTest, AnUnreadableFolderIsNamedNeverZero) {
  auto reader = std::make_shared<vantel::testing::FaultInjectingDirectoryReader>();
  reader->failOpen(layout.home + "/.config/oldapp");
  reader->failOpen(layout.home + "/.local/share/Gallery");
  platform::DirectoryReader::setShared(reader);
  scan();
  const auto* gallery = resource("org.example.Gallery.desktop", ".local/share/Gallery");
  ASSERT_NE(gallery, nullptr);
  EXPECT_FALSE(gallery->size);
  EXPECT_EQ(gallery->error, "Permission denied");
  EXPECT_FALSE(leftovers.at(".config/oldapp").size);
  std::vector<std::string> unreadable;
  for (const auto& entry : scanner->unreadable()) unreadable.push_back(entry.path);
  EXPECT_EQ(unreadable, (std::vector<std::string>{layout.home + "/.config/oldapp", layout.home + "/.local/share/Gallery"}));
}

TEST(LinuxStorageMatcherTest, StrongerEvidenceWinsAndWeakKeysAreNotUsed) {
  LinuxApplication editor;
  editor.entry.desktopId = "org.example.Editor.desktop";
  editor.entry.executableName = "python3";
  editor.entry.startupWMClass = "ed";
  LinuxApplication tool;
  tool.entry.desktopId = "editor-tool.desktop";
  tool.entry.executableName = "editor";
  const LinuxStorageMatcher matcher({editor, tool});
  EXPECT_TRUE(matcher.matches("python3").empty());
  EXPECT_TRUE(matcher.matches("ed").empty());
  const auto found = matcher.matches(".Editor");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].application, 1u);
  EXPECT_EQ(found[0].evidence.key, Key::executableName);
  EXPECT_EQ(found[1].evidence.key, Key::reverseDnsLastPart);
  const auto suffixed = matcher.matches("editor-tool-nightly");
  ASSERT_EQ(suffixed.size(), 2u);
  EXPECT_EQ(suffixed[0].evidence.match, Match::equalAfterRemovingSuffix);
  EXPECT_EQ(suffixed[0].evidence.removedSuffix, "-nightly");
  EXPECT_EQ(suffixed[1].evidence.match, Match::contained);
}

}  // namespace
}  // namespace vantelkit

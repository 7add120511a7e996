#include "vantelkit/clean/CleanScanner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/BundleBuilder.h"
#include "support/CapturingLogger.h"
#include "support/FaultInjectingDirectoryReader.h"
#include "support/MailHomeBuilder.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/foundation/LocalizedStrings.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/metadata/MetadataIndex.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using fixtures::PlistFormat;
using fixtures::writeApplication;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

// Records what reaches it; called on the main queue only, which the test thread drains.
class RecordingListener : public CleanScannerListener {
 public:
  void scanDidStart() override { events.push_back("start"); }
  void scanDidFinish() override { events.push_back("finish"); }
  void progressUpdate(double progress, const std::string& message) override {
    events.push_back("progress");
    values.push_back(progress);
    messages.push_back(message);
  }
  bool finished() const { return std::count(events.begin(), events.end(), "finish") > 0; }
  std::vector<std::string> events;
  std::vector<double> values;
  std::vector<std::string> messages;
};

class CleanScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Paths::setHomeOverride(tree.path("home"));
    platform::Paths::setRootOverride(tree.path("root"));
    tree.directory("home");
    tree.directory("root");
  }
  void TearDown() override {
    // Let every notification of the scan run before the scanner and the overrides go.
    MainQueue::runUntil([] { return MainQueue::pendingCount() == 0; }, 5);
    platform::Paths::setHomeOverride(std::nullopt);
    platform::Paths::setRootOverride(std::nullopt);
  }

  // Runs one scan to its finish notification, draining the main queue here.
  void scan() {
    scanner->addListener(listener);
    scanner->start();
    ASSERT_TRUE(MainQueue::runUntil([&] { return listener->finished(); }, 30)) << "the scan did not finish";
  }

  // The names of a group's items, sorted.
  std::vector<std::string> names(CleanScanGroup group) {
    std::vector<std::string> result;
    auto groups = scanner->groups();
    for (const auto& item : groups[group]) result.push_back(item->name().value_or("<none>"));
    std::sort(result.begin(), result.end());
    return result;
  }

  std::shared_ptr<CleanScanItem> item(CleanScanGroup group, const std::string& name) {
    auto groups = scanner->groups();
    for (const auto& candidate : groups[group])
      if (candidate->name() == name) return candidate;
    return nullptr;
  }

  vantel::testing::ScanFixtureTree tree;
  std::shared_ptr<CleanScanner> scanner = CleanScanner::make();
  std::shared_ptr<RecordingListener> listener = std::make_shared<RecordingListener>();
};

TEST_F(CleanScannerTest, DoubleStartGivesOneStartAndOneFinishAndProgressInTheWrittenOrder) {
  auto& logger = testing::CapturingLogger::shared();
  testing::ScopedLogLevel level(LogLevel::warning);
  logger.clear();
  scanner->addListener(listener);
  scanner->addListener(listener);  // an equal listener is held once
  auto removed = std::make_shared<RecordingListener>();
  scanner->addListener(removed);
  scanner->removeListener(removed);

  scanner->start();
  EXPECT_TRUE(scanner->isRunning());
  scanner->start();
  ASSERT_TRUE(MainQueue::runUntil([&] { return listener->finished(); }, 30));
  EXPECT_FALSE(scanner->isRunning());
  auto warnings = logger.linesContaining("Clean Scanner is already running");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_THAT(warnings.front(), ::testing::HasSubstr("start()"));

  EXPECT_EQ(std::count(listener->events.begin(), listener->events.end(), "start"), 1);
  EXPECT_EQ(std::count(listener->events.begin(), listener->events.end(), "finish"), 1);
  EXPECT_EQ(listener->events.front(), "start");
  EXPECT_EQ(listener->events.back(), "finish");
  EXPECT_THAT(listener->values, ElementsAre(0.05, 0.15, 0.25, 0.35, 0.45, 0.65, 0.8, 0.8, 1.0));
  const std::vector<CleanScanGroup> reported{CleanScanGroup::userLogs,   CleanScanGroup::userCache,
                                             CleanScanGroup::systemLogs, CleanScanGroup::downloads,
                                             CleanScanGroup::diskImages, CleanScanGroup::largeFiles,
                                             CleanScanGroup::developer,  CleanScanGroup::mailAttachments};
  ASSERT_EQ(listener->messages.size(), reported.size() + 1);
  for (std::size_t k = 0; k < reported.size(); ++k) {
    EXPECT_THAT(listener->messages[k], ::testing::EndsWith(" " + localizedName(reported[k]) + "..."));
  }
  EXPECT_EQ(listener->messages.back(), localizedString("clean_calculating_size"));
  EXPECT_TRUE(removed->events.empty());
}

TEST_F(CleanScannerTest, InstallersAndDiskImagesLeaveDownloadsAndFoldersAreSizedAfterTheScan) {
  tree.file("home/Downloads/report.pdf", 100);
  tree.file("home/Downloads/Tool.dmg", 2000);
  tree.file("home/Downloads/Setup.pkg", 3000);
  tree.file("home/Downloads/Upper.DMG", 10);  // not a disk image to the Downloads scan, but to the search
  tree.file("home/Downloads/folder/inner.dmg", 50);
  tree.file("home/Desktop/Installers/Driver.pkg", 400);
  tree.file("home/Desktop/Viewer.dmg", 500);
  tree.file("home/Library/Caches/org.example.Editor/blob", 7000);
  tree.file("home/Library/Caches/org.example.Editor/more/blob", 3000);
  tree.file("home/Library/Caches/loose.cache", 123);
  tree.file("home/Library/Logs/Editor Sync/sync.log", 640);
  tree.file("root/Library/Logs/system.log", 90);
  writeApplication(tree.path("root/Applications/Editor.app"),
                   Value::Dictionary{{"CFBundleIdentifier", Value("org.example.Editor")}, {"CFBundleName", Value("Editor")}},
                   PlistFormat::binary, "Editor");
  scan();

  EXPECT_THAT(names(CleanScanGroup::downloads), ElementsAre("report.pdf"));
  EXPECT_THAT(names(CleanScanGroup::diskImages), ElementsAre("Tool.dmg", "Upper.DMG", "Viewer.dmg", "inner.dmg"));
  EXPECT_THAT(names(CleanScanGroup::packages), ElementsAre("Driver.pkg", "Setup.pkg"));

  const std::string cacheName = localizedFormat("clean_group_bundle_cache", {std::string("Editor")});
  EXPECT_THAT(names(CleanScanGroup::userCache), ElementsAre(cacheName, "loose.cache"));
  auto cache = item(CleanScanGroup::userCache, cacheName);
  ASSERT_NE(cache, nullptr);
  EXPECT_EQ(cache->size, 10000u);  // the folder's files, measured by the size phase
  ASSERT_TRUE(cache->icon());
  EXPECT_EQ(item(CleanScanGroup::userCache, "loose.cache")->size, 123u);
  // Matched by the display name, and named as logs.
  auto logs = item(CleanScanGroup::userLogs, localizedFormat("clean_group_bundle_logs", {std::string("Editor")}));
  ASSERT_NE(logs, nullptr);
  EXPECT_EQ(logs->size, 640u);
  EXPECT_THAT(names(CleanScanGroup::systemLogs), ElementsAre("system.log"));
}

TEST_F(CleanScannerTest, AnEntryMatchingTwoApplicationsGoesToTheFirstByPathOnEveryRun) {
  auto info = [](const char* identifier, const char* name) {
    return Value::Dictionary{{"CFBundleIdentifier", Value(identifier)}, {"CFBundleName", Value(name)}};
  };
  writeApplication(tree.path("root/Applications/Zeta.app"), info("org.example.tool", "Zeta"), PlistFormat::xml);
  writeApplication(tree.path("root/Applications/Alpha.app"), info("org.example", "Alpha"), PlistFormat::xml);
  tree.file("home/Library/Caches/org.example.tool.cache", 10);
  for (int run = 0; run < 3; ++run) {
    listener->events.clear();
    scan();
    EXPECT_THAT(names(CleanScanGroup::userCache),
                ElementsAre(localizedFormat("clean_group_bundle_cache", {std::string("Alpha")})));
  }
}

TEST_F(CleanScannerTest, LargeFilesAreMovedOrDroppedByTheirEndings) {
  constexpr std::int64_t big = 100'000'001;
  tree.sparseFile("home/Movies/film.mov", big);
  tree.sparseFile("home/Movies/exactly.mov", 100'000'000);  // not over the limit
  tree.sparseFile("home/Downloads/Big.dmg", big);             // a download disk image: there only
  tree.sparseFile("home/Documents/Tool.app", big);            // an application name: dropped
  tree.sparseFile("home/Documents/Viewer.App", big);          // another letter case: stays
  tree.sparseFile("home/Documents/Archive.PKG", big);         // found by the package search
  tree.sparseFile("home/Documents/deep/er/Disk.dmg", big);
  tree.file("home/Desktop/a/b/c/Deep.pkg", 10);               // below the Desktop scan, found by the search
  scan();

  EXPECT_THAT(names(CleanScanGroup::largeFiles), ElementsAre("Viewer.App", "film.mov"));
  EXPECT_THAT(names(CleanScanGroup::diskImages), ElementsAre("Big.dmg", "Disk.dmg"));
  EXPECT_THAT(names(CleanScanGroup::packages), ElementsAre("Archive.PKG", "Deep.pkg"));
  EXPECT_TRUE(names(CleanScanGroup::downloads).empty());
  EXPECT_EQ(item(CleanScanGroup::largeFiles, "film.mov")->size, static_cast<std::uint64_t>(big));
}

TEST_F(CleanScannerTest, EachLargeFileIsCountedInOneGroupOnly) {
  constexpr std::int64_t big = 150'000'000;
  tree.sparseFile("home/Downloads/video.mp4", big);               // a download, not also a large file
  tree.sparseFile("home/Library/Caches/org.example.Big/blob", big);  // inside a sized cache folder
  tree.file("home/Library/Caches/org.example.Big/small", 10);
  tree.file("home/Library/Caches/org.example.Big/inner.dmg", 20);   // in the folder's size, not a disk image
  tree.sparseFile("home/Movies/film.mov", big);
  scan();

  EXPECT_THAT(names(CleanScanGroup::downloads), ElementsAre("video.mp4"));
  EXPECT_THAT(names(CleanScanGroup::largeFiles), ElementsAre("film.mov"));
  EXPECT_TRUE(names(CleanScanGroup::diskImages).empty());
  EXPECT_EQ(item(CleanScanGroup::userCache, "org.example.Big")->size, static_cast<std::uint64_t>(big) + 30);
  std::uint64_t total = 0;
  for (const auto& [group, items] : scanner->groups())
    for (const auto& entry : items) total += entry->size;
  EXPECT_EQ(total, 3 * static_cast<std::uint64_t>(big) + 30);
}

TEST_F(CleanScannerTest, SizesCanBeTheBytesAllocatedOnDisk) {
  tree.sparseFile("home/Downloads/image.iso", 680'000'000);
  tree.sparseFile("home/Movies/film.mov", 150'000'000);
  tree.file("home/Library/Caches/org.example.Cache/blob", 5000);
  tree.file("home/Library/Logs/app.log", 3000);
  scanner->setMeasuresUsage(true);
  scan();
  EXPECT_EQ(item(CleanScanGroup::downloads, "image.iso")->size, 0u);
  EXPECT_EQ(item(CleanScanGroup::largeFiles, "film.mov")->size, 0u);
  const auto cache = item(CleanScanGroup::userCache, "org.example.Cache")->size;
  const auto log = item(CleanScanGroup::userLogs, "app.log")->size;
  EXPECT_GE(cache, 5000u);
  EXPECT_GE(log, 3000u);
  EXPECT_EQ(cache % 512, 0u);
  EXPECT_EQ(log % 512, 0u);

  scanner->setMeasuresUsage(false);
  listener->events.clear();
  scan();
  EXPECT_EQ(item(CleanScanGroup::downloads, "image.iso")->size, 680'000'000u);
  EXPECT_EQ(item(CleanScanGroup::userCache, "org.example.Cache")->size, 5000u);
}

TEST_F(CleanScannerTest, ACancelledProducerLeavesItsGroupUnchangedAndTheScanStillFinishes) {
  auto marker = CleanScanItem::make(nullptr, {}, std::string("kept from before"));
  scanner->setGroups({{CleanScanGroup::userCache, CleanScanItemSet{marker}}});
  tree.file("home/Library/Caches/new.cache", 5);
  tree.file("home/Library/Logs/new.log", 5);
  std::vector<std::string> queued;
  scanner->setWillAddProcedureHandler([&queued](Procedure& procedure) {
    queued.push_back(procedure.name());
    if (procedure.name() == "userCache scan") procedure.cancel();
  });
  scan();
  EXPECT_FALSE(scanner->isRunning());
  EXPECT_THAT(names(CleanScanGroup::userCache), ElementsAre("kept from before"));
  EXPECT_THAT(names(CleanScanGroup::userLogs), ElementsAre("new.log"));
  // The progress after the cancelled step is still reported.
  EXPECT_THAT(listener->values, ::testing::Contains(0.25));
  EXPECT_EQ(queued.front(), "applications scan");
  EXPECT_EQ(queued.back(), "end");
}

TEST_F(CleanScannerTest, MissingAndUnreadableFoldersGiveEmptyGroups) {
  tree.file("home/Downloads", 10);  // a file where a folder is expected
  tree.fifo("home/Desktop");
  tree.file("root/Applications", 10);
  scan();
  EXPECT_FALSE(scanner->isRunning());
  // A fixed folder that is not a folder holds nothing; that is not a failure to read.
  EXPECT_TRUE(scanner->unreadable().empty());
  auto groups = scanner->groups();
  for (auto group : {CleanScanGroup::downloads, CleanScanGroup::userCache, CleanScanGroup::userLogs,
                     CleanScanGroup::systemLogs, CleanScanGroup::packages, CleanScanGroup::diskImages}) {
    EXPECT_TRUE(groups[group].empty()) << rawValue(group);
  }
}

TEST_F(CleanScannerTest, WhatCouldNotBeReadIsReportedOnceWithItsPath) {
  tree.file("home/Library/Caches/org.locked/blob", 5000);
  tree.sparseFile("home/Movies/private/film.mov", 150'000'000);
  tree.file("home/Downloads/a.txt", 1);
  auto reader = std::make_shared<vantel::testing::FaultInjectingDirectoryReader>();
  reader->failOpen(tree.path("home/Library/Caches/org.locked"));
  reader->failOpen(tree.path("home/Movies/private"));
  platform::DirectoryReader::setShared(reader);
  MetadataIndex::setShared(nullptr);  // a new index, walking with that reader
  scan();
  platform::DirectoryReader::setShared(nullptr);
  MetadataIndex::setShared(nullptr);

  auto unreadable = scanner->unreadable();
  ASSERT_EQ(unreadable.size(), 2u);
  EXPECT_EQ(unreadable[0].path, tree.path("home/Library/Caches/org.locked"));
  EXPECT_EQ(unreadable[1].path, tree.path("home/Movies/private"));
  for (const auto& entry : unreadable) {
    EXPECT_EQ(platform::errorCodeFromNumber(entry.error), std::errc::permission_denied);
    EXPECT_TRUE(entry.isDirectory);
  }
  EXPECT_EQ(item(CleanScanGroup::userCache, "org.locked")->size, 0u);
  EXPECT_TRUE(names(CleanScanGroup::largeFiles).empty());
  EXPECT_THAT(names(CleanScanGroup::downloads), ElementsAre("a.txt"));
  // The next scan starts afresh.
  listener->events.clear();
  scan();
  EXPECT_TRUE(scanner->unreadable().empty());
}

// Answers every query at once with nothing, so that only the fixed folder steps list the home.
class EmptyIndex final : public MetadataIndex {
 public:
  struct Done final : Gathering {
    void cancel() override {}
  };
  std::shared_ptr<Gathering> gather(const MetadataPredicate&, const std::vector<std::string>&,
                                    Completion completion) override {
    completion({}, {});
    return std::make_shared<Done>();
  }
};

TEST_F(CleanScannerTest, TheDeveloperAndMailStepsReportWhatTheyCouldNotRead) {
  const std::string xcode = "home/Library/Developer/Xcode/";
  tree.file(xcode + "iOS DeviceSupport/17.2/Symbols/locked/lib", 10);
  tree.file(xcode + "iOS DeviceSupport/17.2/Symbols/open/lib", 20);
  tree.directory(xcode + "Archives/2024-01-01");
  testing::MailHomeBuilder mail(tree.path("home"));
  mail.addMailAccount(mail.addParent(std::string("Work")), "ACCOUNT-1");
  mail.writeDatabase();
  mail.mailFile("ACCOUNT-1", "INBOX.mbox/Data/1/Attachments/10/2/invoice.pdf", 100);
  const std::string attachment = mail.mailFile("ACCOUNT-1", "Private.mbox/Data/1/Attachments/10/2/secret.pdf", 100);
  const std::string download = mail.download("private/a.txt", 5);
  const std::string lockedMail = attachment.substr(0, attachment.find("/Data/"));
  const std::string lockedDownloads = download.substr(0, download.rfind('/'));
  const std::string lockedArchive = tree.path(xcode + "Archives/2024-01-01");              // while listed
  const std::string lockedSymbols = tree.path(xcode + "iOS DeviceSupport/17.2/Symbols/locked");  // while measured
  auto reader = std::make_shared<vantel::testing::FaultInjectingDirectoryReader>();
  for (const auto& path : {lockedMail, lockedDownloads, lockedArchive, lockedSymbols}) reader->failOpen(path);
  platform::DirectoryReader::setShared(reader);
  MetadataIndex::setShared(std::make_shared<EmptyIndex>());
  scan();
  platform::DirectoryReader::setShared(nullptr);
  MetadataIndex::setShared(nullptr);

  std::vector<std::string> paths;
  for (const auto& entry : scanner->unreadable()) paths.push_back(entry.path);
  EXPECT_THAT(paths, ElementsAre(lockedDownloads, lockedArchive, lockedSymbols, lockedMail));
  EXPECT_EQ(item(CleanScanGroup::developer, "iOS Device Support")->size, 20u);
  EXPECT_THAT(names(CleanScanGroup::mailAttachments), ElementsAre("Work"));
}

TEST_F(CleanScannerTest, GroupsStayUntilCleanupAndASecondScanCanRun) {
  tree.file("home/Downloads/a.txt", 1);
  scan();
  EXPECT_THAT(names(CleanScanGroup::downloads), ElementsAre("a.txt"));
  scanner->cleanup();
  EXPECT_TRUE(scanner->groups().empty());
  EXPECT_FALSE(scanner->isRunning());

  tree.file("home/Downloads/b.txt", 1);
  listener->events.clear();
  scan();
  EXPECT_THAT(names(CleanScanGroup::downloads), ElementsAre("a.txt", "b.txt"));
  // cleanup() during a scan leaves it running: the scan ends only when the main queue,
  // which this thread drains, delivers its finish.
  listener->events.clear();
  scanner->start();
  scanner->cleanup();
  EXPECT_TRUE(scanner->isRunning());
  ASSERT_TRUE(MainQueue::runUntil([&] { return listener->finished(); }, 30));
  EXPECT_FALSE(scanner->isRunning());
}

TEST_F(CleanScannerTest, MailAttachmentsAreGroupedByAccountWithCopiesTogether) {
  testing::MailHomeBuilder mail(tree.path("home"));
  auto work = mail.addParent(std::string("Work"));
  mail.addMailAccount(work, "ACCOUNT-1");
  auto quiet = mail.addParent(std::string("Quiet"));
  mail.addMailAccount(quiet, "ACCOUNT-2");
  mail.writeDatabase();
  mail.mailFile("ACCOUNT-1", "INBOX.mbox/Data/1/Attachments/10/2/invoice.pdf", 100);
  mail.mailFile("ACCOUNT-1", "INBOX.mbox/Data/1/Attachments/11/2/invoice.pdf", 200);
  mail.mailFile("ACCOUNT-1", "INBOX.mbox/Data/1/Attachments/12/2/plan.png", 50);
  mail.mailFile("ACCOUNT-1", "INBOX.mbox/Data/1/Messages/10.emlx", 7);
  mail.download("A/brochure.pdf", 30);
  scan();

  EXPECT_THAT(names(CleanScanGroup::mailAttachments), ElementsAre("Mail Downloads", "Work"));
  auto account = item(CleanScanGroup::mailAttachments, "Work");
  ASSERT_NE(account, nullptr);
  EXPECT_FALSE(account->file);
  EXPECT_EQ(account->size, 350u);
  ASSERT_TRUE(account->icon());
  EXPECT_EQ(account->icon()->iconName, "email-accounts-icon");
  ASSERT_EQ(account->children.size(), 2u);
  std::shared_ptr<CleanScanItem> copies;
  std::shared_ptr<CleanScanItem> single;
  for (const auto& child : account->children) (child->file ? single : copies) = child;
  ASSERT_TRUE(copies && single);
  EXPECT_EQ(single->name(), "plan.png");
  EXPECT_EQ(copies->name(), localizedFormat("clean_group_copies", {std::string("invoice.pdf"), std::int64_t{2}}));
  EXPECT_EQ(copies->size, 300u);
  EXPECT_EQ(copies->children.size(), 2u);
  auto downloads = item(CleanScanGroup::mailAttachments, "Mail Downloads");
  ASSERT_NE(downloads, nullptr);
  EXPECT_EQ(downloads->size, 30u);
  EXPECT_EQ(downloads->icon()->iconName, "small-downloads-icon");
  EXPECT_FALSE(downloads->icon()->representations.empty());
}

TEST_F(CleanScannerTest, TheDemoHomeFillsEveryGroup) {
  auto layout = fixtures::writeDemoHome(tree.path("demo"));
  ASSERT_TRUE(std::holds_alternative<fixtures::DemoHomeLayout>(layout)) << std::get<std::string>(layout);
  platform::Paths::setHomeOverride(std::get<fixtures::DemoHomeLayout>(layout).home);
  platform::Paths::setRootOverride(std::get<fixtures::DemoHomeLayout>(layout).root);
  scan();
  auto groups = scanner->groups();
  for (CleanScanGroup group : allCleanScanGroups) EXPECT_FALSE(groups[group].empty()) << rawValue(group);
  // Each application's folders are matched, by identifier and by display name.
  EXPECT_THAT(names(CleanScanGroup::userLogs),
              ElementsAre("Lumen Notes Logs", "Photon Editor Logs", "fsck_apfs.log"));
  EXPECT_THAT(names(CleanScanGroup::largeFiles), ElementsAre("Holiday Video.mov"));
}

TEST(CleanScannerCopiesTest, FilesWithTheSameNameShareAContainer) {
  auto node = [](const std::string& path, std::int64_t size) {
    return FileNode::make(FileURL::fileURLWithPath(path), nullptr, size, FileNode::NodeType::file);
  };
  auto items = CleanScanner::groupCopies(
      {node("/m/1/invoice.pdf", 10), node("/m/2/photo.jpg", 5), node("/m/3/invoice.pdf", 20), nullptr});
  ASSERT_EQ(items.size(), 2u);
  const auto& copies = *items[0];
  EXPECT_FALSE(copies.file);
  EXPECT_EQ(copies.name(), localizedFormat("clean_group_copies", {std::string("invoice.pdf"), std::int64_t{2}}));
  EXPECT_EQ(copies.size, 30u);
  ASSERT_EQ(copies.children.size(), 2u);
  EXPECT_EQ(copies.children[0]->file->url().path(), "/m/1/invoice.pdf");
  EXPECT_EQ(copies.children[1]->file->url().path(), "/m/3/invoice.pdf");
  EXPECT_TRUE(copies.icon());
  EXPECT_EQ(items[1]->name(), "photo.jpg");
  EXPECT_EQ(items[1]->size, 5u);
  EXPECT_TRUE(CleanScanner::groupCopies({}).empty());
}

TEST(CleanScannerSharedTest, SharedIsMadeOnceAndCanBeReplaced) {
  auto first = CleanScanner::shared();
  EXPECT_EQ(CleanScanner::shared(), first);
  auto replacement = CleanScanner::make();
  CleanScanner::setShared(replacement);
  EXPECT_EQ(CleanScanner::shared(), replacement);
  CleanScanner::setShared(first);
}

}  // namespace
}  // namespace vantelkit

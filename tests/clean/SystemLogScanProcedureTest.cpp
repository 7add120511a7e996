#include "vantelkit/clean/SystemLogScanProcedure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "fixtures/JournalFiles.h"
#include "support/FakeVolumes.h"
#include "support/OtherUser.h"
#include "support/RunProcedure.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/clean/ThumbnailScanProcedure.h"
#include "vantelkit/clean/TrashScanProcedure.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using vantel::testing::byName;
using vantel::testing::FakeFileSystemCapacity;
using vantel::testing::ScanFixtureTree;

using Contents = std::map<std::string, std::pair<std::uint64_t, std::string>>;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

Contents contents(const CleanScanItem& container) {
  Contents found;
  for (const auto& child : container.children)
    found[child->name().value_or("?")] = {child->size, child->reason.value_or("")};
  return found;
}

class SystemLogScanProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Paths::setRootOverride(tree.path("root"));
    platform::Paths::setHomeOverride(tree.path("home"));
    setCapacity(20 * kGiB);
  }
  void TearDown() override {
    platform::Paths::setRootOverride(std::nullopt);
    platform::Paths::setHomeOverride(std::nullopt);
    platform::FileSystemCapacity::setShared(nullptr);
  }

  static void setCapacity(std::optional<std::uint64_t> total) {
    std::optional<platform::FileSystemCapacity::Capacity> capacity;
    if (total) capacity = platform::FileSystemCapacity::Capacity{*total, *total / 2};
    platform::FileSystemCapacity::setShared(std::make_shared<FakeFileSystemCapacity>(capacity));
  }

  std::map<std::string, std::shared_ptr<CleanScanItem>> scan() {
    auto procedure = std::make_shared<SystemLogScanProcedure>();
    auto items = vantel::testing::runToEnd(procedure);
    unreadable = procedure->unreadable();
    return byName({items.begin(), items.end()});
  }

  void writeJournal() {
    ASSERT_TRUE(fixtures::writeJournalFolder(tree.path("root/var/log/journal"), fixtures::kSampleMachineId,
                                             fixtures::sampleJournalFiles(1000, 300)));
  }

  ScanFixtureTree tree;
  SystemLogScanProcedure::Unreadable unreadable;
};

TEST_F(SystemLogScanProcedureTest, RotatedLogsArchivedJournalCrashReportsAndCoreDumps) {
  tree.file("root/var/log/syslog", 100);
  tree.file("root/var/log/syslog.1", 200);
  tree.file("root/var/log/syslog.2.gz", 50);
  tree.file("root/var/log/apt/history.log", 11);
  tree.file("root/var/log/apt/history.log.1.gz", 70);
  tree.file("root/var/log/auth.log-20241201", 30);
  tree.file("root/var/log/Xorg.0.log", 12);
  tree.file("root/var/log/Xorg.0.log.old", 40);
  tree.symbolicLink("root/var/log/linked.1", "syslog.1");  // links are no files of the log
  writeJournal();
  tree.file("root/var/log/journal/stray.1", 9);  // the journal folder holds no rotated logs
  tree.file("root/var/crash/_usr_bin_app.1000.crash", 500);
  tree.file("root/var/crash/report/a", 10);
  tree.file("root/var/crash/report/b", 20);
  tree.file("root/var/lib/systemd/coredump/core.app.1000.zst", 800);

  auto containers = scan();
  ASSERT_EQ(containers.size(), 4u);
  const auto& rotated = *containers.at("Rotated logs");
  EXPECT_FALSE(rotated.file);
  EXPECT_EQ(contents(rotated), (Contents{{"syslog.1", {200, "rotated log"}},
                                         {"syslog.2.gz", {50, "rotated log"}},
                                         {"apt/history.log.1.gz", {70, "rotated log"}},
                                         {"auth.log-20241201", {30, "rotated log"}},
                                         {"Xorg.0.log.old", {40, "rotated log"}}}));
  EXPECT_EQ(rotated.size, 390u);

  const auto& journal = *containers.at("Archived journal");
  const std::string machine = std::string(fixtures::kSampleMachineId) + "/";
  Contents archived;
  for (const auto& [name, size] : fixtures::sampleJournalFiles(1000, 300))
    if (name.find('@') != std::string::npos) archived[machine + name] = {1000, "archived journal file"};
  EXPECT_EQ(contents(journal), archived);
  EXPECT_EQ(journal.size, 3000u);
  EXPECT_EQ(journal.reason, "archived journal: 3 KB archived, 600 bytes active, cap 2.15 GB (default)");

  EXPECT_EQ(contents(*containers.at("Crash reports")),
            (Contents{{"_usr_bin_app.1000.crash", {500, "crash report"}}, {"report", {30, "crash report"}}}));
  EXPECT_EQ(contents(*containers.at("Core dumps")), (Contents{{"core.app.1000.zst", {800, "core dump"}}}));
  EXPECT_TRUE(unreadable.empty());
}

TEST_F(SystemLogScanProcedureTest, TheJournalCapComesFromTheConfigurationOrTheFileSystem) {
  writeJournal();
  EXPECT_EQ(SystemLogScanProcedure::journalCap(), (SystemLogScanProcedure::JournalCap{2 * kGiB, false}));
  setCapacity(300 * kGiB);
  EXPECT_EQ(SystemLogScanProcedure::journalCap(), (SystemLogScanProcedure::JournalCap{4 * kGiB, false}));
  setCapacity(std::nullopt);
  EXPECT_EQ(SystemLogScanProcedure::journalCap(), (SystemLogScanProcedure::JournalCap{std::nullopt, false}));
  EXPECT_EQ(scan().at("Archived journal")->reason, "archived journal: 3 KB archived, 600 bytes active, cap unknown");

  // The vendor's file, then drop-ins by name, /etc's overriding a vendor drop-in of that name.
  ASSERT_TRUE(fixtures::writeJournaldConfiguration(tree.path("root/usr/lib"), "1G"));
  EXPECT_EQ(SystemLogScanProcedure::configuredJournalMaxUse(), kGiB);
  ASSERT_TRUE(fixtures::writeJournaldConfiguration(tree.path("root/etc"), std::nullopt));
  EXPECT_EQ(SystemLogScanProcedure::configuredJournalMaxUse(), std::nullopt);  // /etc's file is the main one
  tree.directory("root/usr/lib/systemd/journald.conf.d");
  std::ofstream(tree.path("root/usr/lib/systemd/journald.conf.d/10-vendor.conf")) << "[Journal]\nSystemMaxUse=3G\n";
  std::ofstream(tree.path("root/usr/lib/systemd/journald.conf.d/60-size.conf")) << "[Journal]\nSystemMaxUse=8G\n";
  tree.directory("root/etc/systemd/journald.conf.d");
  std::ofstream(tree.path("root/etc/systemd/journald.conf.d/60-size.conf")) << "[Journal]\nSystemMaxUse=500M\n";
  EXPECT_EQ(SystemLogScanProcedure::configuredJournalMaxUse(), std::uint64_t{500} << 20);
  EXPECT_EQ(scan().at("Archived journal")->reason,
            "archived journal: 3 KB archived, 600 bytes active, cap 524.3 MB (SystemMaxUse)");
}

TEST_F(SystemLogScanProcedureTest, MissingOrEmptyPilesGiveNoContainers) {
  EXPECT_TRUE(scan().empty());
  tree.file("root/var/log/syslog", 5);
  tree.file("root/var/log/journal/0123/system.journal", 5);
  tree.directory("root/var/crash");
  tree.directory("root/var/lib/systemd/coredump");
  EXPECT_TRUE(scan().empty());
}

// As a user without root's rights: a folder closed to the user is named in unreadable(); a
// root-only file in a folder the user may list is sized all the same.
TEST_F(SystemLogScanProcedureTest, WhatTheUserCannotListIsNamedNotShownAsEmpty) {
  const std::string test = "SystemLogScanProcedureTest.WhatTheUserCannotListIsNamedNotShownAsEmpty";
  if (vantel::testing::runningAsOtherUser()) {
    const std::string root = vantel::testing::otherUserArgument();
    platform::Paths::setRootOverride(root + "/root");
    auto containers = scan();
    EXPECT_EQ(contents(*containers.at("Rotated logs")),
              (Contents{{"secure.1", {64, "rotated log"}}, {"syslog.1", {8, "rotated log"}}}));
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_EQ(unreadable[0].path, root + "/root/var/log/private");
    EXPECT_TRUE(unreadable[0].isDirectory);
    EXPECT_EQ(platform::errorCodeFromNumber(unreadable[0].error), std::errc::permission_denied);
    return;
  }
  namespace fs = std::filesystem;
  fs::permissions(tree.root(), fs::perms(0755));
  tree.file("root/var/log/syslog.1", 8);
  tree.file("root/var/log/secure.1", 64);
  fs::permissions(tree.path("root/var/log/secure.1"), fs::perms(0600));
  tree.file("root/var/log/private/old.log.1", 1000);
  fs::permissions(tree.path("root/var/log/private"), fs::perms(0700));
  auto status = vantel::testing::rerunAsOtherUser(test, tree.root());
  if (!status) GTEST_SKIP() << "cannot switch to another user here";
  EXPECT_EQ(*status, 0);
}

TEST(SystemLogReasonTest, TheJournalReasonStatesTotalsAndCap) {
  using Cap = SystemLogScanProcedure::JournalCap;
  EXPECT_EQ(SystemLogScanProcedure::archivedJournalReason(1'200'000'000, 96'000'000, Cap{4 * kGiB, false}),
            "archived journal: 1.2 GB archived, 96 MB active, cap 4.29 GB (default)");
  EXPECT_EQ(SystemLogScanProcedure::archivedJournalReason(0, 0, Cap{kGiB, true}),
            "archived journal: 0 bytes archived, 0 bytes active, cap 1.07 GB (SystemMaxUse)");
}

}  // namespace
}  // namespace vantelkit

namespace vantelkit {
namespace {

// Read-only, on the machine's own root and home: the scans end, each item has a reason, and
// every container is the sum of its items.
TEST(PileScansOnThisMachineTest, FinishWithReasonedItemsOnTheRealRootAndHome) {
  const auto check = [](const CleanScanItemSet& items) {
    for (const auto& container : items) {
      std::uint64_t total = 0;
      for (const auto& child : container->children) {
        total += child->size;
        if (child->children.empty()) {
          EXPECT_TRUE(child->reason) << child->file->url().path();
        }
      }
      if (!container->children.empty()) {
        EXPECT_EQ(container->size, total);
      }
      std::cout << "  " << container->name().value_or("?") << ": " << container->children.size() << " items, "
                << container->size << " bytes" << (container->reason ? " (" + *container->reason + ")" : "") << "\n";
    }
  };
  auto logs = std::make_shared<SystemLogScanProcedure>();
  check(vantel::testing::runToEnd(logs));
  std::cout << "  system logs: " << logs->unreadable().size() << " unreadable\n";
  auto trash = std::make_shared<TrashScanProcedure>();
  check(vantel::testing::runToEnd(trash));
  auto thumbnails = std::make_shared<ThumbnailScanProcedure>();
  for (const auto& top : vantel::testing::runToEnd(thumbnails))
    check(CleanScanItemSet(top->children.begin(), top->children.end()));
}

}  // namespace
}  // namespace vantelkit

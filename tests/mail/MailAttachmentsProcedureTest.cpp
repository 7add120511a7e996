#include "vantelkit/mail/MailAttachmentsProcedure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/CapturingLogger.h"
#include "support/MailHomeBuilder.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/Paths.h"

using namespace vantelkit;
using vantel::testing::ScanFixtureTree;
using vantelkit::testing::CapturingLogger;
using vantelkit::testing::MailHomeBuilder;
using vantelkit::testing::ScopedLogLevel;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::vector<std::string> pathsOf(const std::vector<std::shared_ptr<FileNode>>& files) {
  std::vector<std::string> paths;
  for (const auto& file : files) paths.push_back(file->url().path());
  return paths;
}

class MailAttachmentsProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Paths::setHomeOverride(home.home());
    CapturingLogger::shared().clear();
  }
  void TearDown() override { platform::Paths::setHomeOverride(std::nullopt); }

  // The output of a procedure run to its end.
  MailAttachments run() {
    auto procedure = std::make_shared<MailAttachmentsProcedure>();
    ProcedureQueue queue;
    queue.addOperation(procedure);
    EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
    EXPECT_FALSE(procedure->failed());
    auto output = procedure->successValue();
    if (!output) {
      ADD_FAILURE() << "no output";
      return {};
    }
    return *output;
  }

  ScanFixtureTree tree;
  MailHomeBuilder home{tree.path("home")};
  ScopedLogLevel level{LogLevel::warning};
};

TEST_F(MailAttachmentsProcedureTest, AnAccountsAttachmentsFromAllItsIdentifiersAndTheDownloads) {
  const auto work = home.addParent("Work");
  home.addMailAccount(work, "SECOND");
  home.addMailAccount(work, "FIRST");
  // Two parents sharing a description are one account.
  const auto otherWork = home.addParent("Work");
  home.addMailAccount(otherWork, "THIRD");
  const auto personal = home.addParent("Personal");
  home.addMailAccount(personal, "PERSONAL");
  home.writeDatabase();

  const auto second = home.mailFile("SECOND", "INBOX.mbox/Attachments/12/1/report.pdf", 300);
  home.mailFile("SECOND", "INBOX.mbox/Attachments/12/1/.DS_Store", 10);
  home.mailFile("SECOND", "INBOX.mbox/Messages/12.emlx", 50);
  home.mailFile("SECOND", "Attachments2/not-this.txt", 50);
  const auto first = home.mailFile("FIRST", "Attachments/photo.jpg", 200);
  const auto third = home.mailFile("THIRD", "Sent.mbox/Attachments/a", 1);
  home.mailFile("UNLISTED", "Attachments/other.txt", 5);
  const auto download = home.download("invoice.pdf", 70);
  const auto nested = home.download("folder/deeper.zip", 80);
  home.download(".DS_Store", 6);

  const MailAttachments output = run();
  ASSERT_EQ(output.attachments.size(), 2u);
  // Items in description order; within one, the identifiers in table order.
  EXPECT_EQ(output.attachments[0].name, "Personal");
  EXPECT_THAT(output.attachments[0].files, IsEmpty());
  EXPECT_EQ(output.attachments[1].name, "Work");
  EXPECT_THAT(pathsOf(output.attachments[1].files), ElementsAre(second, first, third));
  auto downloads = pathsOf(output.downloads);
  std::sort(downloads.begin(), downloads.end());
  EXPECT_THAT(downloads, ElementsAre(nested, download));
}

TEST_F(MailAttachmentsProcedureTest, WithoutADatabaseOnlyTheDownloadsAreFound) {
  const auto download = home.download("a.txt", 1);
  home.mailFile("SOMEONE", "Attachments/x", 1);
  const MailAttachments output = run();
  EXPECT_THAT(output.attachments, IsEmpty());
  EXPECT_THAT(pathsOf(output.downloads), ElementsAre(download));
  EXPECT_EQ(CapturingLogger::shared().linesContaining("Error when reading database: ").size(), 1u);
}

TEST_F(MailAttachmentsProcedureTest, MissingFoldersAndADownloadsFolderOfOnlyDsStoreGiveEmptyLists) {
  const auto work = home.addParent("Work");
  home.addMailAccount(work, "NO-FOLDER");
  home.writeDatabase();
  home.download(".DS_Store", 6);
  const MailAttachments output = run();
  ASSERT_EQ(output.attachments.size(), 1u);
  EXPECT_EQ(output.attachments[0].name, "Work");
  EXPECT_THAT(output.attachments[0].files, IsEmpty());
  EXPECT_THAT(output.downloads, IsEmpty());
}

TEST_F(MailAttachmentsProcedureTest, AttachmentsAreFoundFifteenLevelsDownButNotSixteen) {
  const auto work = home.addParent("Work");
  home.addMailAccount(work, "DEEP");
  home.writeDatabase();
  // 15 and 16 path components below the identifier's folder.
  std::string fourteen = "Attachments";
  for (int level = 2; level <= 14; ++level) fourteen += "/d" + std::to_string(level);
  const auto found = home.mailFile("DEEP", fourteen + "/at-fifteen", 1);
  home.mailFile("DEEP", fourteen + "/d15/at-sixteen", 1);
  const MailAttachments output = run();
  ASSERT_EQ(output.attachments.size(), 1u);
  EXPECT_THAT(pathsOf(output.attachments[0].files), ElementsAre(found));
}

TEST_F(MailAttachmentsProcedureTest, IdentifiersThatAreNoFolderNameAreSkipped) {
  const auto work = home.addParent("Work");
  for (const char* identifier : {"..", ".", "", "../V7", "A/B", "GOOD"}) home.addMailAccount(work, identifier);
  home.writeDatabase();
  // What those identifiers would reach.
  tree.file("home/Library/Mail/Attachments/outside-1", 1);
  tree.file("home/Library/Mail/V7/Attachments/outside-2", 1);
  tree.file("home/Library/Mail/V7/A/B/Attachments/outside-3", 1);
  const auto good = home.mailFile("GOOD", "Attachments/inside", 1);
  const MailAttachments output = run();
  ASSERT_EQ(output.attachments.size(), 1u);
  EXPECT_THAT(pathsOf(output.attachments[0].files), ElementsAre(good));
  EXPECT_EQ(CapturingLogger::shared().linesContaining("not a folder name").size(), 5u);
}

TEST_F(MailAttachmentsProcedureTest, CancelledBeforeItRanTheOutputStaysPending) {
  auto procedure = std::make_shared<MailAttachmentsProcedure>();
  procedure->cancel();
  ProcedureQueue queue;
  queue.addOperation(procedure);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_TRUE(procedure->output().isPending());
  EXPECT_THAT(procedure->accounts(), IsEmpty());
}

}  // namespace

#include "vantelkit/platform/DurableFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/FaultInjectingFileSystem.h"
#include "support/ScanFixtureTree.h"

namespace {

namespace fs = std::filesystem;
using vantel::testing::FaultInjectingFileSystem;
using vantel::testing::ScanFixtureTree;
using vantelkit::platform::DurableFile;
using Step = DurableFile::Step;
using Failure = DurableFile::Failure;

constexpr Step kAllSteps[] = {Step::createTemporary, Step::write, Step::syncFile,
                              Step::closeFile,       Step::rename, Step::syncFolder};

std::string readAll(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  return bytes.str();
}

void writeAll(const fs::path& path, std::string_view bytes) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> names(const fs::path& folder) {
  std::vector<std::string> result;
  for (const auto& entry : fs::directory_iterator(folder)) result.push_back(entry.path().filename().string());
  std::sort(result.begin(), result.end());
  return result;
}

class DurableFileTest : public ::testing::Test {
 protected:
  DurableFileTest() : folder(tree.directory("data")), target(fs::path(folder) / "settings.plist") {
    writeAll(target, kOld);
  }

  static constexpr std::string_view kOld = "old content, whole";
  static constexpr std::string_view kNew = "the new content, which is longer than the old one";
  ScanFixtureTree tree;
  fs::path folder;
  fs::path target;
};

TEST_F(DurableFileTest, ReplacesTheFileAndLeavesNothingElse) {
  auto files = std::make_shared<FaultInjectingFileSystem>();
  EXPECT_EQ(DurableFile::write(target, kNew, files), std::nullopt);
  EXPECT_EQ(readAll(target), kNew);
  EXPECT_EQ(names(folder), std::vector<std::string>{"settings.plist"});
  EXPECT_EQ(files->calls(), (std::vector<Step>{Step::createTemporary, Step::write, Step::syncFile, Step::closeFile,
                                               Step::rename, Step::syncFolder}));
  EXPECT_EQ(files->contentsAfterPowerLoss(target, std::string(kOld)), std::set<std::string>{std::string(kNew)});

  // Empty content, a new file, and the platform's own file system.
  EXPECT_EQ(DurableFile::write(fs::path(folder) / "empty", ""), std::nullopt);
  EXPECT_TRUE(fs::is_regular_file(fs::path(folder) / "empty"));
  EXPECT_EQ(fs::file_size(fs::path(folder) / "empty"), 0u);
}

TEST_F(DurableFileTest, ShortWritesStillWriteEveryByte) {
  for (std::size_t limit : {1u, 7u}) {
    auto files = std::make_shared<FaultInjectingFileSystem>();
    files->limitWrites(limit);
    ASSERT_EQ(DurableFile::write(target, kNew, files), std::nullopt) << limit;
    EXPECT_EQ(readAll(target), kNew);
    EXPECT_EQ(std::count(files->calls().begin(), files->calls().end(), Step::write),
              static_cast<std::ptrdiff_t>((kNew.size() + limit - 1) / limit));
  }
}

// Every step failing, with no space and with an I/O error: the old file stays whole and no
// temporary file is left; a failure to flush the folder comes after the new file is in place.
TEST_F(DurableFileTest, AFailureAtAnyStepLeavesTheOldFileWhole) {
  for (Step step : kAllSteps) {
    for (Failure failure : {Failure::noSpace, Failure::inputOutput}) {
      SCOPED_TRACE(::testing::Message() << "step " << static_cast<int>(step) << ", failure "
                                        << static_cast<int>(failure));
      writeAll(target, kOld);
      auto files = std::make_shared<FaultInjectingFileSystem>();
      files->failAt(step, failure);
      auto error = DurableFile::write(target, kNew, files);
      ASSERT_TRUE(error);
      EXPECT_EQ(error->step, step);
      EXPECT_EQ(error->failure, failure);
      EXPECT_NE(error->description().find("injected"), std::string::npos);
      EXPECT_EQ(readAll(target), step == Step::syncFolder ? kNew : kOld);
      EXPECT_EQ(names(folder), std::vector<std::string>{"settings.plist"});
    }
  }
}

TEST_F(DurableFileTest, NoSpaceAfterSomeShortWritesRemovesThePartialFile) {
  auto files = std::make_shared<FaultInjectingFileSystem>();
  files->limitWrites(5);
  files->failAt(Step::write, Failure::noSpace, 3);
  auto error = DurableFile::write(target, kNew, files);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->step, Step::write);
  EXPECT_EQ(error->failure, Failure::noSpace);
  EXPECT_EQ(std::count(files->calls().begin(), files->calls().end(), Step::write), 3);
  EXPECT_EQ(readAll(target), kOld);
  EXPECT_EQ(names(folder), std::vector<std::string>{"settings.plist"});
}

// A crash at any step, followed by a power loss: the disk holds the old or the new content,
// never a mix, an empty file or nothing. The same with a target that did not exist yet.
TEST_F(DurableFileTest, ACrashAtAnyStepLeavesTheOldOrTheNewContent) {
  const std::set<std::string> oldOrNew{std::string(kOld), std::string(kNew)};
  for (Step step : kAllSteps) {
    SCOPED_TRACE(::testing::Message() << "crash at step " << static_cast<int>(step));
    writeAll(target, kOld);
    auto files = std::make_shared<FaultInjectingFileSystem>();
    files->crashAt(step);
    EXPECT_TRUE(DurableFile::write(target, kNew, files));
    auto contents = files->contentsAfterPowerLoss(target, std::string(kOld));
    EXPECT_TRUE(std::includes(oldOrNew.begin(), oldOrNew.end(), contents.begin(), contents.end()))
        << *contents.begin();

    const fs::path fresh = fs::path(folder) / "fresh";
    fs::remove(fresh);
    auto freshFiles = std::make_shared<FaultInjectingFileSystem>();
    freshFiles->crashAt(step);
    EXPECT_TRUE(DurableFile::write(fresh, kNew, freshFiles));
    for (const auto& content : freshFiles->contentsAfterPowerLoss(fresh, std::nullopt)) {
      EXPECT_TRUE(content == "<absent>" || content == kNew) << content;
    }
  }
}

TEST_F(DurableFileTest, TakenTemporaryNamesAreTriedAgainButNotForever) {
  auto files = std::make_shared<FaultInjectingFileSystem>();
  files->failAt(Step::createTemporary, Failure::alreadyExists);
  EXPECT_EQ(DurableFile::write(target, kNew, files), std::nullopt);
  EXPECT_EQ(readAll(target), kNew);

  auto always = std::make_shared<FaultInjectingFileSystem>();
  always->failAt(Step::createTemporary, Failure::alreadyExists, 1, true);
  auto error = DurableFile::write(target, kOld, always);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->failure, Failure::alreadyExists);
  EXPECT_LE(always->calls().size(), 10u);
  EXPECT_EQ(readAll(target), kNew);
}

TEST_F(DurableFileTest, RealFailuresAreReportedAsValues) {
  // A folder where the file should go: refused at the rename, the folder untouched.
  const std::string occupied = tree.directory("data/occupied/inside");
  auto error = DurableFile::write(fs::path(folder) / "occupied", kNew);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->step, Step::rename);
  EXPECT_EQ(error->failure, Failure::isFolder);
  EXPECT_TRUE(fs::is_directory(occupied));

  auto missing = DurableFile::write(fs::path(folder) / "absent" / "file", kNew);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->step, Step::createTemporary);
  EXPECT_EQ(missing->failure, Failure::notFound);

  auto throughAFile = DurableFile::write(target / "file", kNew);
  ASSERT_TRUE(throughAFile);
  EXPECT_EQ(throughAFile->failure, Failure::notAFolder);

  for (const fs::path& noFile : {fs::path(), fs::path(folder) / ".."}) {
    auto refused = DurableFile::write(noFile, kNew);
    ASSERT_TRUE(refused) << noFile;
    EXPECT_EQ(refused->failure, Failure::isFolder);
  }
  EXPECT_EQ(names(folder), (std::vector<std::string>{"occupied", "settings.plist"}));
  EXPECT_EQ(readAll(target), kOld);
}

TEST_F(DurableFileTest, ALinkAtTheTargetIsReplacedNotFollowed) {
  const fs::path link = fs::path(folder) / "link";
  fs::create_symlink(target, link);
  ASSERT_EQ(DurableFile::write(link, kNew), std::nullopt);
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(readAll(link), kNew);
  EXPECT_EQ(readAll(target), kOld);
}

}  // namespace

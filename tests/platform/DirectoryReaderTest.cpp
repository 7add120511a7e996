#include "vantelkit/platform/DirectoryReader.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/ScanFixtureTree.h"

namespace vantelkit::platform {
namespace {

using vantel::testing::ScanFixtureTree;

// Keeps what a reader visits, by name.
class Recorder final : public DirectoryReader::Visitor {
 public:
  void visit(const DirectoryReader::Entry& entry) override {
    order.emplace_back(entry.name);
    (entries[order.back()] = entry).name = {};
  }
  void failed(std::error_code error) override { failure = error; }
  std::vector<std::string> order;
  std::map<std::string, DirectoryReader::Entry> entries;
  std::error_code failure;
};

// A reader that only lists, so that readStatuses() is the interface's own.
class ListingOnly final : public DirectoryReader {
 public:
  Status list(const std::string& path, bool followLink, Visitor& visitor) override {
    return platformDefault()->list(path, followLink, visitor);
  }
};

// The statuses of chosen entries, read without a listing, by the platform's reader and by
// the interface's default alike.
TEST(DirectoryReaderTest, ReadsTheStatusesOfChosenEntries) {
  ScanFixtureTree tree;
  tree.file("folder/data", 1234);
  tree.file("folder/other", 5);
  tree.directory("folder/inner");
  tree.symbolicLink("folder/link", "data");
  ListingOnly listingOnly;
  for (DirectoryReader* reader : {DirectoryReader::platformDefault().get(), static_cast<DirectoryReader*>(&listingOnly)}) {
    Recorder recorder;
    const std::vector<std::string_view> names{"link", "data", "gone", "inner"};
    ASSERT_EQ(reader->readStatuses(tree.path("folder"), names, recorder), DirectoryReader::Status::complete);
    EXPECT_EQ(recorder.order, (std::vector<std::string>{"link", "data", "gone", "inner"}));
    EXPECT_EQ(recorder.entries["data"].type, FileObjectType::file);
    EXPECT_EQ(recorder.entries["data"].size, 1234);
    EXPECT_GE(recorder.entries["data"].usage, 1234);
    EXPECT_EQ(recorder.entries["link"].type, FileObjectType::symbolicLink);  // not followed
    EXPECT_EQ(recorder.entries["link"].size, 0);
    EXPECT_EQ(recorder.entries["inner"].type, FileObjectType::directory);
    EXPECT_EQ(recorder.entries["gone"].errorCode(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(recorder.entries["gone"].size, 0);

    Recorder missing;
    EXPECT_EQ(reader->readStatuses(tree.path("missing"), names, missing), DirectoryReader::Status::cannotOpen);
    EXPECT_EQ(missing.failure, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(missing.order.empty());
  }
}

}  // namespace
}  // namespace vantelkit::platform

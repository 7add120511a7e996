#include "vantelkit/service/DownloadableFile.h"

#include <gtest/gtest.h>

namespace vantelkit {
namespace {

std::optional<GenericDownloadableFile> fileFor(std::string_view link) {
  auto url = URL::parse(link);
  if (!url) ADD_FAILURE() << "no URL: " << link;
  return url ? GenericDownloadableFile::fromVantelFileURL(*url) : std::nullopt;
}

TEST(DownloadableFileTest, ALinkWithoutTitleIsNamedAfterItsLastPathComponent) {
  auto file = fileFor("vantelfile://files.example.com/dir/file.zip");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->filename(), "file.zip");
  ASSERT_TRUE(file->url());
  EXPECT_EQ(file->url()->absoluteString(), "https://files.example.com/dir/file.zip");
  EXPECT_FALSE(file->url()->query());
}

TEST(DownloadableFileTest, TheFirstTitleItemNamesTheFileAndLeavesTheQuery) {
  auto file = fileFor("vantelfile://h/f?id=7&title=Report.pdf");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->filename(), "Report.pdf");
  EXPECT_EQ(file->url()->absoluteString(), "https://h/f?id=7");

  auto only = fileFor("vantelfile://h/f?title=Report.pdf#part");
  ASSERT_TRUE(only);
  EXPECT_EQ(only->url()->absoluteString(), "https://h/f#part");

  auto twice = fileFor("vantelfile://h/f?title=First%20One.pdf&a=1&title=Second.pdf");
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->filename(), "First One.pdf");
  EXPECT_EQ(twice->url()->absoluteString(), "https://h/f?a=1&title=Second.pdf");
}

TEST(DownloadableFileTest, OtherQueryItemsStayExactlyAsWritten) {
  auto file = fileFor("vantelfile://h/f?sig=a%2Bb%3D&title=x&q=c+d");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->url()->absoluteString(), "https://h/f?sig=a%2Bb%3D&q=c+d");
}

TEST(DownloadableFileTest, ATitleWithoutValueLeavesTheQueryAndUsesThePath) {
  auto file = fileFor("vantelfile://h/dir/name.dmg?title&id=1");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->filename(), "name.dmg");
  EXPECT_EQ(file->url()->absoluteString(), "https://h/dir/name.dmg?title&id=1");
}

TEST(DownloadableFileTest, OnlyTheExactSchemeIsAccepted) {
  EXPECT_FALSE(fileFor("https://h/file.zip"));
  EXPECT_FALSE(fileFor("VANTELFILE://h/file.zip"));
  EXPECT_FALSE(fileFor("vantelfile2://h/file.zip"));
  EXPECT_FALSE(fileFor("file.zip"));
}

TEST(DownloadableFileTest, NamesFromALinkCannotLeaveTheDownloadFolder) {
  EXPECT_EQ(fileFor("vantelfile://h/f?title=..%2F..%2F.bashrc")->filename(), ".._.._.bashrc");
  EXPECT_EQ(fileFor("vantelfile://h/f?title=..")->filename(), "_");
  EXPECT_EQ(fileFor("vantelfile://h/f?title=a%00b")->filename(), "a_b");
  EXPECT_EQ(fileFor("vantelfile://h/a/..")->filename(), "_");
  EXPECT_EQ(fileFor("vantelfile://h/a%2F..%2F..%2Fb")->filename(), "b");
}

TEST(DownloadableFileTest, AnyDownloadableFileServesThroughTheInterface) {
  GenericDownloadableFile generic("a.zip", URL::parse("https://h/a.zip"));
  const DownloadableFile& file = generic;
  EXPECT_EQ(file.filename(), "a.zip");
  generic.setFilename("b.zip");
  generic.setUrl(std::nullopt);
  EXPECT_EQ(file.filename(), "b.zip");
  EXPECT_FALSE(file.url());
}

}  // namespace
}  // namespace vantelkit

#include "vantelkit/scanning/FileCollector.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include "vantelkit/scanning/FileCollectorOptions.h"

using namespace vantelkit;
using NodeType = FileNode::NodeType;

namespace {

std::shared_ptr<FileNode> node(std::string_view path, NodeType type = NodeType::file, std::int64_t size = 0) {
  return FileNode::make(FileURL::fileURLWithPath(path, type == NodeType::directory), nullptr, size, type);
}

std::vector<std::string> acceptedPaths(FileCollector& collector, std::initializer_list<std::shared_ptr<FileNode>> nodes) {
  for (const auto& n : nodes) collector.offer(n);
  std::vector<std::string> paths;
  for (const auto& n : collector.files()) paths.push_back(n->url().path());
  return paths;
}

TEST(FileCollectorTest, ExtensionRulesAreExactAndCaseSensitiveForFilesAndDirectories) {
  PackageCollector packages;
  EXPECT_EQ(acceptedPaths(packages, {node("/a/Foo.pkg", NodeType::directory), node("/a/foo.PKG"),
                                     node("/a/bar.pkg"), node("/a/pkg"), node("/a/.pkg"), node("/a/x.pkg.zip")}),
            (std::vector<std::string>{"/a/Foo.pkg", "/a/bar.pkg"}));
  DiskImageCollector images;
  EXPECT_EQ(acceptedPaths(images, {node("/a/x.dmg"), node("/a/x.DMG")}), (std::vector<std::string>{"/a/x.dmg"}));
  ApplicationCollector applications;
  EXPECT_EQ(acceptedPaths(applications, {node("/A/Safari.app", NodeType::directory), node("/A/app")}),
            (std::vector<std::string>{"/A/Safari.app"}));
  XcodeArchiveCollector archives;
  EXPECT_EQ(acceptedPaths(archives, {node("/a/b.xcarchive", NodeType::directory)}).size(), 1u);
}

TEST(FileCollectorTest, TypeRulesAndDSStore) {
  NonDirectoryCollector files;
  DirectoryCollector directories;
  NonDSStoreFileCollector noStore;
  auto dir = node("/a/d", NodeType::directory);
  auto store = node("/a/deep/er/.DS_Store");
  auto backup = node("/a/.DS_Store.bak");
  for (auto* c : std::initializer_list<FileCollector*>{&files, &directories, &noStore})
    for (const auto& n : {dir, store, backup}) c->offer(n);
  EXPECT_EQ(files.fileCount(), 2u);
  EXPECT_EQ(directories.files(), std::vector<std::shared_ptr<FileNode>>{dir});
  EXPECT_EQ(noStore.files(), std::vector<std::shared_ptr<FileNode>>{backup});
}

TEST(FileCollectorTest, MailAttachmentsNeedAnAttachmentsComponent) {
  MailAttachmentCollector attachments;
  EXPECT_EQ(acceptedPaths(attachments,
                          {node("/Mail/V10/Attachments/12/3/report.pdf"), node("/Mail/Attachments2/x.pdf"),
                           node("/Mail/MyAttachments/x.pdf"), node("/Mail/Attachments", NodeType::directory),
                           node("/Mail/Attachments/.DS_Store"), node("/Mail/Attachments/a")}),
            (std::vector<std::string>{"/Mail/V10/Attachments/12/3/report.pdf", "/Mail/Attachments/a"}));
  EXPECT_EQ(attachments.identifier(), "filesAndDirectories");
}

TEST(FileCollectorTest, SizeCollectorTotalsWithoutKeepingAnything) {
  auto sizes = std::make_shared<SizeCollector>();
  sizes->offer(node("/a/x", NodeType::file, 10));
  sizes->offer(node("/a/d", NodeType::directory, 0));
  sizes->offer(node("/a/d/y", NodeType::file, 5));
  EXPECT_EQ(sizes->totalSize(), 15);
  EXPECT_EQ(sizes->fileCount(), 0u);

  // The test holds its collector weakly: once the collector is gone it does nothing.
  auto test = sizes->evaluator();
  sizes.reset();
  EXPECT_FALSE(test(node("/a/z", NodeType::file, 1)));
}

TEST(FileCollectorTest, SearchStopsAtTheFirstRefusalAndCountsEveryOffer) {
  int secondAsked = 0;
  auto search = std::make_shared<SearchFileCollector>(std::vector<FileCollector::Evaluator>{
      [](const std::shared_ptr<FileNode>& n) { return n->size() > 3; },
      [&secondAsked](const std::shared_ptr<FileNode>&) {
        ++secondAsked;
        return true;
      }});
  search->offer(node("/a", NodeType::file, 1));
  search->offer(node("/b", NodeType::file, 9));
  EXPECT_EQ(secondAsked, 1);
  EXPECT_EQ(search->evaluatedCount(), 2);
  EXPECT_EQ(search->fileCount(), 1u);

  auto everything = std::make_shared<SearchFileCollector>(std::vector<FileCollector::Evaluator>{});
  everything->offer(node("/a"));
  everything->offer(node("/d", NodeType::directory));
  EXPECT_EQ(everything->fileCount(), 2u);
  EXPECT_EQ(everything->evaluatedCount(), 2);
}

TEST(FileCollectorTest, CallbackSeesTheWholeListAfterEachAcceptance) {
  FileCollector all;
  std::vector<std::size_t> seen;
  all.setDidCollectFileCallback([&seen](const std::vector<std::shared_ptr<FileNode>>& files) { seen.push_back(files.size()); });
  std::vector<std::shared_ptr<FileNode>> nodes{node("/a"), node("/b"), node("/c")};
  all.offer(nodes, all.evaluator());
  EXPECT_EQ(seen, (std::vector<std::size_t>{1, 2, 3}));
}

TEST(FileCollectorTest, CollectorsAreEqualByIdentifier) {
  std::unordered_set<std::shared_ptr<FileCollector>, FileCollectorHash, FileCollectorEqual> set;
  EXPECT_TRUE(set.insert(std::make_shared<FileCollector>()).second);
  EXPECT_FALSE(set.insert(std::make_shared<MailAttachmentCollector>()).second);
  EXPECT_TRUE(set.insert(std::make_shared<SizeCollector>()).second);
}

TEST(FileCollectorTest, OptionsBuildTheirCollectors) {
  EXPECT_FALSE(fileCollectorOptionsFromRawValue("applications"));
  EXPECT_FALSE(fileCollectorOptionsFromRawValue("Files"));
  for (auto raw : {"files", "filesIgnoringDsStore", "directories", "filesAndDirectories", "packages", "diskImages",
                   "xcodeArchives"}) {
    auto option = fileCollectorOptionsFromRawValue(raw);
    ASSERT_TRUE(option) << raw;
    EXPECT_EQ(rawValue(*option), raw);
    auto collector = makeCollector(*option);
    EXPECT_EQ(collector->identifier(), raw);
    EXPECT_EQ(collector->fileCount(), 0u);
  }
}

}  // namespace

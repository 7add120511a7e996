#include "vantelkit/metadata/MetadataItem.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vantelkit {
namespace {

using Items = std::vector<std::shared_ptr<const MetadataItem>>;

std::string pathOf(const MetadataItem& item) { return std::get<std::string>(*item.valueForAttribute("kMDItemPath")); }

std::vector<std::string> paths(const Items& items) {
  std::vector<std::string> out;
  for (const auto& item : items) out.push_back(pathOf(*item));
  return out;
}

TEST(MetadataItemTest, AWalksItemAnswersEveryAttributeAsAnAttributeMapWould) {
  MetadataItem item("/home/me/Downloads/Setup.pkg", 300, 4096);
  const MetadataItem::Attributes expected{{"kMDItemPath", std::string("/home/me/Downloads/Setup.pkg")},
                                          {"kMDItemFSName", std::string("Setup.pkg")},
                                          {"kMDItemDisplayName", std::string("Setup.pkg")},
                                          {"kMDItemFSSize", std::int64_t{300}},
                                          {"kMDItemPhysicalSize", std::int64_t{4096}}};
  for (const auto& [name, value] : expected) EXPECT_EQ(item.valueForAttribute(name), value) << name;
  EXPECT_FALSE(item.valueForAttribute("kMDItemContentType"));
  EXPECT_EQ(item.attributes(), expected);
}

// Both kinds of item sort alike: by each descriptor, numbers before texts before dates,
// items without the attribute last (in either direction), ties by path.
TEST(MetadataItemTest, SortsByTheDescriptorsThenByPath) {
  Items items{
      std::make_shared<const MetadataItem>("/b", 10, 0),
      std::make_shared<const MetadataItem>(MetadataItem::Attributes{{"kMDItemPath", std::string("/text")},
                                                                    {"kMDItemFSSize", std::string("big")}}),
      std::make_shared<const MetadataItem>(MetadataItem::Attributes{{"kMDItemPath", std::string("/none")}}),
      std::make_shared<const MetadataItem>("/a", 10, 0),
      std::make_shared<const MetadataItem>(MetadataItem::Attributes{{"kMDItemPath", std::string("/real")},
                                                                    {"kMDItemFSSize", 10.5}}),
      std::make_shared<const MetadataItem>(MetadataItem::Attributes{{"kMDItemPath", std::string("/date")},
                                                                    {"kMDItemFSSize", Date{5}}}),
      std::make_shared<const MetadataItem>("/c", 2000000000000, 0),
  };
  auto ascending = items;
  sortMetadataItems(ascending, {{"kMDItemFSSize", true}});
  EXPECT_EQ(paths(ascending), (std::vector<std::string>{"/a", "/b", "/real", "/c", "/text", "/date", "/none"}));
  auto descending = items;
  sortMetadataItems(descending, {{"kMDItemFSSize", false}});
  EXPECT_EQ(paths(descending), (std::vector<std::string>{"/date", "/text", "/c", "/real", "/a", "/b", "/none"}));

  Items named{std::make_shared<const MetadataItem>("/x/b.pkg", 1, 0), std::make_shared<const MetadataItem>("/a/c.pkg", 1, 0),
              std::make_shared<const MetadataItem>("/z/a.pkg", 1, 0)};
  sortMetadataItems(named, {{"kMDItemFSName", true}});
  EXPECT_EQ(paths(named), (std::vector<std::string>{"/z/a.pkg", "/x/b.pkg", "/a/c.pkg"}));
}

}  // namespace
}  // namespace vantelkit

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <list>
#include <random>

#include "vantelkit/foundation/PropertyList.h"
#include "vantelkit/platform/Geometry.h"
#include "vantelkit/platform/ImageCodec.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/system/Conveniences.h"
#include "vantelkit/system/Defaults.h"
#include "vantelkit/system/VantelKitAsset.h"

namespace vantelkit {
namespace {

namespace fs = std::filesystem;

TEST(VantelKitAssetTest, TheTwoImageAssetsArePictures) {
  for (const auto* asset : {&VantelKitAsset::emailAccountsIcon, &VantelKitAsset::smallDownloadsIcon}) {
    const platform::Image image = asset->image();
    ASSERT_EQ(image.representations.size(), 1u) << asset->name;
    const auto& png = image.representations[0];
    EXPECT_EQ(png.format, "png");
    auto pixels = platform::ImageCodec::shared().decode(
        std::string_view(reinterpret_cast<const char*>(png.data.data()), png.data.size()));
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->width, png.pixelsWide);
    // Not blank: some pixels are drawn and some are clear.
    bool drawn = false;
    bool clear = false;
    for (std::size_t i = 3; i < pixels->bytes.size(); i += 4) (pixels->bytes[i] ? drawn : clear) = true;
    EXPECT_TRUE(drawn && clear) << asset->name;
  }
  EXPECT_EQ(VantelKitAsset::emailAccountsIcon.name, "email-accounts-icon");
  EXPECT_EQ(VantelKitAsset::smallDownloadsIcon.name, "small-downloads-icon");
}

TEST(VantelKitAssetTest, MissingColourAndDataAssetsAnswerNone) {
  EXPECT_FALSE(ColorAsset{"no-such-colour"}.color());
  EXPECT_FALSE(DataAsset{"no-such-data"}.data());
  EXPECT_FALSE(DataAsset{"../Localizable.strings"}.data());
}

TEST(VantelKitAssetDeathTest, AMissingImageAssetIsAProgrammingError) {
  EXPECT_DEATH(ImageAsset{"no-such-image"}.image(), "Unable to load image named no-such-image\\.");
}

class DefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("vantel-defaults-" + std::to_string(std::random_device()()));
    fs::remove_all(folder);
  }
  void TearDown() override {
    platform::Paths::setHomeOverride(std::nullopt);
    fs::remove_all(folder);
  }
  fs::path folder;
};

TEST_F(DefaultsTest, ValuesPersistAcrossStores) {
  const fs::path file = folder / "config/app.plist";
  {
    UserDefaults defaults(file);
    EXPECT_FALSE(defaults.text("name"));
    EXPECT_TRUE(defaults.set("name", Value("Vantel")));
    EXPECT_TRUE(defaults.set("launches", Value(3)));
    EXPECT_TRUE(defaults.set("welcomed", Value(true)));
    EXPECT_TRUE(defaults.remove("launches"));
  }
  UserDefaults reopened(file);
  EXPECT_EQ(reopened.text("name"), "Vantel");
  EXPECT_EQ(reopened.boolean("welcomed"), true);
  EXPECT_FALSE(reopened.integer("launches"));
  EXPECT_FALSE(reopened.integer("name")) << "a value of another type reads as none";
  EXPECT_EQ(reopened.dictionaryRepresentation().size(), 2u);
  // What is on disk is a whole property list, and no temporary file is left beside it.
  auto onDisk = PropertyList::load(file);
  ASSERT_TRUE(onDisk && *onDisk);
  EXPECT_EQ((**onDisk).size(), 2u);
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(DefaultsTest, AStoreOverACorruptFileStartsEmptyAndAFailedWriteIsReported) {
  fs::create_directories(folder);
  { std::ofstream(folder / "broken.plist") << "<plist><dict><key>cut"; }
  UserDefaults broken(folder / "broken.plist");
  EXPECT_TRUE(broken.dictionaryRepresentation().empty());
  // A folder where the file should be: the write fails, the value stays in memory.
  fs::create_directories(folder / "taken.plist/inside");
  UserDefaults blocked(folder / "taken.plist");
  EXPECT_FALSE(blocked.set("key", Value("value")));
  EXPECT_EQ(blocked.text("key"), "value");
  EXPECT_TRUE(fs::is_directory(folder / "taken.plist/inside"));
}

TEST_F(DefaultsTest, TheStandardStoreLivesInTheConfigurationFolder) {
  // The standard store is made once per process; its file is under the home of that moment.
  const fs::path file = Defaults().file();
  EXPECT_EQ(file.parent_path().filename(), "vantelkit");
  EXPECT_EQ(file.parent_path().parent_path().filename(), ".config");
  EXPECT_EQ(file.extension(), ".plist");
  EXPECT_EQ(&Defaults(), &UserDefaults::standard());
}

struct Item {
  std::string id;
  int payload = 0;
};

struct Named {
  std::string name;
  std::string identifier() const { return name; }
};

TEST(ConveniencesTest, CollectionsAndArithmetic) {
  const std::vector<int> values{4, 5, 6};
  EXPECT_EQ(safe(values, 0), 4);
  EXPECT_EQ(safe(values, 2), 6);
  EXPECT_FALSE(safe(values, 3));
  EXPECT_FALSE(safe(values, -1));
  EXPECT_EQ(safe(std::list<std::string>{"a", "b"}, 1), "b");

  EXPECT_EQ(total(values), 15);
  EXPECT_EQ(average(values), 5);
  EXPECT_EQ(average(std::vector<int>{}), 0);
  EXPECT_EQ(average(std::vector<int>{1, 2}), 1);
  EXPECT_EQ(average(std::vector<std::int64_t>{-3, -4}), -3);

  const std::vector<Item> items{{"x", 1}, {"y", 2}, {"y", 3}};
  EXPECT_EQ(indexByIdentifier(items, Item{"y", 9}), 1u);
  EXPECT_FALSE(indexByIdentifier(items, Item{"z", 0}));
  EXPECT_EQ(indexByIdentifier(std::vector<Named>{{"a"}, {"b"}}, Named{"b"}), 1u);

  using Array = std::optional<std::vector<int>>;
  const auto array = [](std::initializer_list<int> list) { return Array(std::vector<int>(list)); };
  EXPECT_EQ(array({1, 2}) + array({3}), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Array() + array({3}), (std::vector<int>{3}));
  EXPECT_EQ(array({1}) + Array(), (std::vector<int>{1}));
  EXPECT_TRUE((Array() + Array()).empty());

  EXPECT_EQ((Size{10, 4} + 2), (Size{12, 6}));
  EXPECT_EQ((Size{10, 4} - 2), (Size{8, 2}));
  EXPECT_EQ((Size{10, 4} * 1.5), (Size{15, 6}));
  EXPECT_EQ((Size{10, 4} / 2), (Size{5, 2}));
  EXPECT_EQ((Point{1, 2} * 3), (Point{3, 6}));
}

TEST(ConveniencesTest, URLs) {
  auto url = URL::parse("vantel://clean/open?group=logs&all");
  ASSERT_TRUE(url);
  auto items = queryItems(*url);
  ASSERT_TRUE(items);
  EXPECT_EQ(*items, (std::vector<URLQueryItem>{{"group", "logs"}, {"all", std::nullopt}}));
  EXPECT_FALSE(queryItems(*URL::parse("vantel://clean")));

  const fs::path folder = fs::temp_directory_path() / ("vantel-url-" + std::to_string(std::random_device()()));
  fs::create_directories(folder / "sub");
  { std::ofstream(folder / "file.txt") << "x"; }
  EXPECT_TRUE(fileExists(FileURL::fileURLWithPath((folder / "file.txt").string())));
  EXPECT_TRUE(fileExists(FileURL::fileURLWithPath((folder / "sub").string(), true)));
  EXPECT_FALSE(fileExists(FileURL::fileURLWithPath((folder / "missing").string())));
  EXPECT_EQ(localizedName(FileURL::fileURLWithPath((folder / "file.txt").string())), "file.txt");
  fs::remove_all(folder);
}

}  // namespace
}  // namespace vantelkit

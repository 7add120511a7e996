#include "vantelkit/applications/BundleInfo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>

#include "support/BundleBuilder.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/formats/Bundle.h"

namespace vantelkit {
namespace {

using testing::applicationInfo;
using testing::PlistFormat;
using testing::writeBundle;
using testing::writeFile;

class BundleInfoTest : public ::testing::TestWithParam<PlistFormat> {
 protected:
  std::optional<BundleInfo> readBundle(const std::string& name, const Value::Dictionary& info, bool shallow = false) {
    return BundleInfo::fromURL(FileURL::fileURLWithPath(writeBundle(tree.path(name), Value(info), GetParam(), shallow)));
  }
  vantel::testing::ScanFixtureTree tree;
};

TEST_P(BundleInfoTest, ReadsIdentityAndVersion) {
  auto info = applicationInfo("org.example.Editor", "Editor", "10.15.7");
  info.emplace("CFBundleShortVersionString", Value("10.15"));
  auto read = readBundle("Editor.app", info);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->name, "Editor");
  EXPECT_EQ(read->identifier, "org.example.Editor");
  EXPECT_EQ(read->vendor, "example");
  EXPECT_EQ(read->version, BundleVersion("10.15.7", std::string("10.15")));

  auto shallow = readBundle("Widget.bundle", applicationInfo("single", "Widget"), true);
  ASSERT_TRUE(shallow);
  EXPECT_EQ(shallow->vendor, "");
  EXPECT_EQ(shallow->version, BundleVersion());
}

TEST_P(BundleInfoTest, FallsBackOnExecutableAndFolderName) {
  Value::Dictionary noName{{"CFBundleIdentifier", Value("org.example.tool")},
                           {"CFBundleExecutable", Value("tool-bin")}};
  auto fromExecutable = readBundle("Other Name.app", noName);
  ASSERT_TRUE(fromExecutable);
  EXPECT_EQ(fromExecutable->name, "tool-bin");

  // A name of the wrong type counts as missing, so the executable is used.
  auto wrongType = noName;
  wrongType.emplace("CFBundleName", Value(std::int64_t{7}));
  EXPECT_EQ(readBundle("Wrong.app", wrongType)->name, "tool-bin");

  // An empty name gives the folder name with every ".app" removed.
  EXPECT_EQ(readBundle("Foo.app", applicationInfo("org.example.foo", ""))->name, "Foo");
  EXPECT_EQ(readBundle("My.app.backup.app", applicationInfo("org.example.b", ""))->name, "My.backup");
}

TEST_P(BundleInfoTest, RejectsBundlesWithoutIdentity) {
  EXPECT_FALSE(readBundle("NoId.app", {{"CFBundleName", Value("NoId")}}));
  EXPECT_FALSE(readBundle("IdNotText.app", {{"CFBundleIdentifier", Value(std::int64_t{1})},
                                            {"CFBundleName", Value("x")}}));
  EXPECT_FALSE(readBundle("NoName.app", {{"CFBundleIdentifier", Value("org.example.n")}}));
  EXPECT_FALSE(readBundle("NamesNotText.app", {{"CFBundleIdentifier", Value("org.example.n")},
                                               {"CFBundleName", Value(true)},
                                               {"CFBundleExecutable", Value(Value::Array{Value("a")})}}));
}

TEST_P(BundleInfoTest, VersionsOfTheWrongTypeCountAsAbsent) {
  auto info = applicationInfo("org.example.v", "V");
  info.emplace("CFBundleVersion", Value(std::int64_t{3}));
  info.emplace("CFBundleShortVersionString", Value(Value::Dictionary{}));
  auto read = readBundle("V.app", info);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->version, BundleVersion());
  EXPECT_EQ(read->version.shortVersionString, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Formats, BundleInfoTest, ::testing::Values(PlistFormat::xml, PlistFormat::binary),
                         [](const auto& info) { return info.param == PlistFormat::xml ? "xml" : "binary"; });

TEST(BundleReadingTest, AnythingElseIsNoBundle) {
  vantel::testing::ScanFixtureTree tree;
  const std::string good = testing::propertyListBytes(Value(applicationInfo("org.example.a", "A")), PlistFormat::xml);
  auto read = [&](const std::string& path) { return BundleInfo::fromURL(FileURL::fileURLWithPath(path)); };

  EXPECT_FALSE(read(tree.path("missing.app")));
  EXPECT_FALSE(read(tree.file("plain.app", 10)));  // a file, not a folder
  EXPECT_FALSE(read(tree.directory("Empty.app")));
  tree.directory("Folder.app/Contents/Info.plist");  // a folder where the file should be
  EXPECT_FALSE(read(tree.path("Folder.app")));
  writeFile(tree.path("Array.app/Contents/Info.plist"),
            testing::propertyListBytes(Value(Value::Array{Value("x")}), PlistFormat::binary));
  EXPECT_FALSE(read(tree.path("Array.app")));
  writeFile(tree.path("Garbage.app/Contents/Info.plist"), "not a property list");
  EXPECT_FALSE(read(tree.path("Garbage.app")));
  writeFile(tree.path("Cut.app/Contents/Info.plist"), good.substr(0, good.size() / 2));
  EXPECT_FALSE(read(tree.path("Cut.app")));
  // A named pipe is never opened (opening it would wait for a writer).
  tree.directory("Pipe.app/Contents");
  ASSERT_TRUE(tree.fifo("Pipe.app/Contents/Info.plist"));
  EXPECT_FALSE(read(tree.path("Pipe.app")));
  // A link to a good bundle is followed, as the platform does.
  writeFile(tree.path("Real.app/Contents/Info.plist"), good);
  tree.symbolicLink("Link.app", tree.path("Real.app"));
  ASSERT_TRUE(read(tree.path("Link.app")));
  EXPECT_EQ(read(tree.path("Link.app"))->name, "A");
}

TEST(BundleReadingTest, SurvivesInputsThatOnceCrashedTheReader) {
  // Inputs found by fuzzing the information-dictionary reader.
  const std::filesystem::path corpus =
      std::filesystem::path(VANTEL_SOURCE_DIR) / "tests/fuzz/corpus/BundleInfoFuzzer";
  for (const char* name : {"crash_nul_in_binary_key.bplist"}) {
    std::ifstream in(corpus / name, std::ios::binary);
    ASSERT_TRUE(in) << name;
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    auto info = Bundle::parseInfoDictionary(bytes);
    if (info) (void)BundleInfo::fromInfoDictionary(*info, "Crash.app");
  }
}

TEST(BundleReadingTest, PrefersContentsAndKnowsTheResourcesFolder) {
  vantel::testing::ScanFixtureTree tree;
  writeFile(tree.path("Both.app/Info.plist"),
            testing::propertyListBytes(Value(applicationInfo("org.example.shallow", "S")), PlistFormat::xml));
  writeBundle(tree.path("Both.app"), Value(applicationInfo("org.example.deep", "D")));
  auto bundle = Bundle::open(tree.path("Both.app"));
  ASSERT_TRUE(bundle);
  EXPECT_TRUE(bundle->isDeep());
  EXPECT_EQ(bundle->textForInfoDictionaryKey("CFBundleIdentifier"), "org.example.deep");
  EXPECT_EQ(bundle->resourcesPath(), tree.path("Both.app/Contents/Resources"));
  auto shallow = Bundle::open(
      writeBundle(tree.path("Shallow.bundle"), Value(applicationInfo("a.b", "c")), PlistFormat::binary, true));
  ASSERT_TRUE(shallow);
  EXPECT_FALSE(shallow->isDeep());
  EXPECT_EQ(shallow->resourcesPath(), tree.path("Shallow.bundle"));
  EXPECT_EQ(shallow->objectForInfoDictionaryKey("missing"), nullptr);
}

TEST(BundleReadingTest, ReadsRealInformationDictionaries) {
  const std::filesystem::path folder = std::filesystem::path(VANTEL_SAMPLES_DIR) / "info-plist";
  if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no samples";
  vantel::testing::ScanFixtureTree tree;
  auto install = [&](const char* sample, const char* bundleName) {
    tree.directory(std::string(bundleName) + "/Contents");
    std::filesystem::copy_file(folder / sample, tree.path(std::string(bundleName) + "/Contents/Info.plist"));
    return BundleInfo::fromURL(FileURL::fileURLWithPath(tree.path(bundleName)));
  };
  auto alacritty = install("alacritty_Info.plist", "Alacritty.app");
  ASSERT_TRUE(alacritty);
  EXPECT_EQ(alacritty->identifier, "org.alacritty");
  EXPECT_EQ(alacritty->vendor, "alacritty");
  auto wezterm = install("wezterm_Info.plist", "WezTerm.app");
  ASSERT_TRUE(wezterm);
  auto mpv = install("mpv_Info.plist", "mpv.app");
  ASSERT_TRUE(mpv);
  EXPECT_EQ(mpv->version.shortVersionString, "${VERSION}");
  auto simulator = install("appium_TestApp_iphonesimulator_Info.bplist", "TestApp.app");
  ASSERT_TRUE(simulator);
  // An old build without identifier and name is no application.
  EXPECT_FALSE(install("quicksilver_UKDistributedView_app_Info.plist", "UKDistributedView.app"));
}

TEST(BundleInfoValueTest, EqualityComparesAllFieldsAndHashUsesTheIdentifier) {
  const BundleInfo a("Editor", "org.example.Editor", BundleVersion("1.0", std::nullopt));
  const BundleInfo b("Editor Pro", "org.example.Editor", BundleVersion("2.0", std::nullopt));
  EXPECT_NE(a, b);
  EXPECT_EQ(std::hash<BundleInfo>{}(a), std::hash<BundleInfo>{}(b));
  EXPECT_EQ(a, BundleInfo("Editor", "org.example.Editor", BundleVersion("1.0", std::nullopt)));
  std::unordered_set<BundleInfo> set{a, b};
  EXPECT_EQ(set.size(), 2u);
  EXPECT_EQ(vendorOfIdentifier("com"), "");
  EXPECT_EQ(vendorOfIdentifier("com."), "");
  EXPECT_EQ(vendorOfIdentifier(".x.y"), "x");
  EXPECT_EQ(vendorOfIdentifier("a.b.c.d"), "b");
  EXPECT_EQ(BundleInfo("n", "", BundleVersion()).vendor, "");
}

}  // namespace
}  // namespace vantelkit

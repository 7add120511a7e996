#include "vantelkit/platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "support/ScanFixtureTree.h"

namespace vantelkit::platform {
namespace {

// Sets one environment variable for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : _name(name) {
    if (const char* old = std::getenv(name)) _old = old;
    ::setenv(name, value, 1);
  }
  ~ScopedVariable() {
    if (_old) ::setenv(_name, _old->c_str(), 1);
    else ::unsetenv(_name);
  }

 private:
  const char* _name;
  std::optional<std::string> _old;
};

class PathsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Paths::setHomeOverride(std::nullopt);
    Paths::setRootOverride(std::nullopt);
  }
  vantel::testing::ScanFixtureTree tree;
};

TEST_F(PathsTest, XdgVariablesApplyOnlyWhenAbsoluteAndNoOverrideIsSet) {
  ScopedVariable cache("XDG_CACHE_HOME", "/var/tmp/cache/");
  ScopedVariable state("XDG_STATE_HOME", "relative/state");
  ScopedVariable data("XDG_DATA_DIRS", "/opt/share:relative::/usr/share/");
  ScopedVariable config("XDG_CONFIG_DIRS", "");
  EXPECT_EQ(Paths::xdgCacheHome(), "/var/tmp/cache");
  EXPECT_EQ(Paths::xdgStateHome(), Paths::inHome(".local/state"));
  EXPECT_EQ(Paths::xdgDataDirs(), (std::vector<std::string>{"/opt/share", "/usr/share"}));
  EXPECT_EQ(Paths::xdgConfigDirs(), (std::vector<std::string>{"/etc/xdg"}));

  Paths::setRootOverride(tree.path("root"));
  EXPECT_TRUE(Paths::environmentIgnored());
  EXPECT_EQ(Paths::xdgCacheHome(), Paths::inHome(".cache"));
  EXPECT_EQ(Paths::xdgDataDirs(),
            (std::vector<std::string>{tree.path("root/usr/local/share"), tree.path("root/usr/share")}));
  Paths::setHomeOverride(tree.path("home"));
  EXPECT_EQ(Paths::xdgConfigHome(), tree.path("home/.config"));
  EXPECT_EQ(Paths::xdgDataHome(), tree.path("home/.local/share"));
}

TEST_F(PathsTest, UserDirsLinesAreUnquotedAndMalformedOnesSkipped) {
  auto folders = Paths::parseUserDirs(
      "# written by xdg-user-dirs-update\n"
      "XDG_DOWNLOAD_DIR=\"$HOME/Down loads\"\n"
      "XDG_DESKTOP_DIR=\"$HOME/\"\r\n"
      "XDG_MUSIC_DIR=\"/srv/m\\\"u\\$ic/\"\n"
      "XDG_VIDEOS_DIR=\"Videos\"\n"
      "XDG_PICTURES_DIR=\"$HOMEPictures\"\n"
      "XDG_TEMPLATES_DIR=\"$HOME/`x`\"\n"
      "XDG_DOCUMENTS_DIR=\"$HOME/a\"\n"
      "XDG_DOCUMENTS_DIR=\"$HOME/b\"\n",
      "/home/u");
  EXPECT_EQ(folders, (std::map<std::string, std::string>{{"XDG_DOWNLOAD_DIR", "/home/u/Down loads"},
                                                         {"XDG_DESKTOP_DIR", "/home/u"},
                                                         {"XDG_MUSIC_DIR", "/srv/m\"u$ic"},
                                                         {"XDG_DOCUMENTS_DIR", "/home/u/b"}}));
}

TEST_F(PathsTest, UserDirectoryReadsTheHomesFileAndFallsBackToItsDefault) {
  Paths::setHomeOverride(tree.directory("home"));
  EXPECT_EQ(Paths::userDirectory(Paths::UserDirectory::download), tree.path("home/Downloads"));
  tree.directory("home/.config");
  std::ofstream(tree.path("home/.config/user-dirs.dirs")) << "XDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n";
  EXPECT_EQ(Paths::userDirectory(Paths::UserDirectory::download), tree.path("home/Téléchargements"));
  EXPECT_EQ(Paths::userDirectory(Paths::UserDirectory::pictures), tree.path("home/Pictures"));
}

TEST_F(PathsTest, AutomaticLayoutLooksForTheLibraryFolders) {
  Paths::setHomeOverride(tree.directory("home"));
  Paths::setRootOverride(tree.directory("root"));
  EXPECT_EQ(Paths::automaticLayout(), Paths::Layout::xdg);
  tree.directory("root/Applications");
  EXPECT_EQ(Paths::automaticLayout(), Paths::Layout::document);
  tree.directory("home/.config");
  EXPECT_EQ(Paths::automaticLayout(), Paths::Layout::xdg);
  tree.file("home/Library/Caches", 1);  // a file, not the folder
  EXPECT_EQ(Paths::automaticLayout(), Paths::Layout::xdg);
  tree.directory("home/Library/Logs");
  EXPECT_EQ(Paths::automaticLayout(), Paths::Layout::document);
  EXPECT_EQ(Paths::parseLayout("xdg"), Paths::Layout::xdg);
  EXPECT_EQ(Paths::parseLayout("auto"), std::nullopt);
}

}  // namespace
}  // namespace vantelkit::platform

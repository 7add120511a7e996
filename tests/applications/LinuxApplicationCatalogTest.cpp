#include "vantelkit/applications/LinuxApplicationCatalog.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using platform::Paths;

std::string entryText(std::string_view name, std::string_view exec, std::string_view extra = "") {
  return "[Desktop Entry]\nType=Application\nName=" + std::string(name) + "\nExec=" + std::string(exec) + "\n" +
         std::string(extra);
}

class LinuxApplicationCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Paths::setRootOverride(tree.path("root"));
    Paths::setHomeOverride(tree.path("home"));
    tree.file("root/usr/bin/editor");
    tree.file("root/usr/bin/flatpak");
    tree.file("root/snap/bin/notes");
  }
  void TearDown() override {
    Paths::setHomeOverride(std::nullopt);
    Paths::setRootOverride(std::nullopt);
  }
  void write(std::string_view relative, std::string_view text) {
    const std::string path = tree.file(relative);
    std::ofstream(path, std::ios::binary) << text;
  }
  LinuxApplicationCatalog load(std::vector<std::string> desktops = {"GNOME"}) {
    return LinuxApplicationCatalog::load({.desktops = desktops, .locale = "de_DE.UTF-8", .dataDirectories = std::nullopt});
  }
  vantel::testing::ScanFixtureTree tree;
};

TEST_F(LinuxApplicationCatalogTest, TheFirstEntryOfAnIdWinsInPrecedenceOrder) {
  write("root/usr/share/applications/editor.desktop", entryText("System Editor", "editor"));
  write("root/usr/local/share/applications/editor.desktop", entryText("Local Editor", "editor"));
  write("home/.local/share/applications/editor.desktop", entryText("My Editor", "editor", "Name[de]=Mein Editor\n"));
  write("root/usr/share/applications/viewer.desktop", entryText("System Viewer", "editor"));
  write("root/usr/local/share/applications/viewer.desktop", entryText("Local Viewer", "editor"));
  write("root/usr/share/applications/kde/okular.desktop", entryText("Okular", "editor"));
  const auto catalog = load();
  ASSERT_EQ(catalog.applications().size(), 3u);
  EXPECT_EQ(catalog.find("editor.desktop")->entry.name, "Mein Editor");
  EXPECT_EQ(catalog.find("editor.desktop")->kind, LinuxApplication::Kind::userEntry);
  EXPECT_EQ(catalog.find("viewer.desktop")->entry.name, "Local Viewer");
  EXPECT_EQ(catalog.find("viewer.desktop")->kind, LinuxApplication::Kind::systemPackage);
  ASSERT_NE(catalog.find("kde-okular.desktop"), nullptr);
  EXPECT_TRUE(catalog.refused().empty());
  EXPECT_TRUE(catalog.unreadable().empty());
}

TEST_F(LinuxApplicationCatalogTest, HiddenDeletesTheIdAndNoDisplayOnlyHidesIt) {
  write("root/usr/share/applications/editor.desktop", entryText("Editor", "editor"));
  write("home/.local/share/applications/editor.desktop", "[Desktop Entry]\nHidden=true\n");
  write("root/usr/share/applications/helper.desktop", entryText("Helper", "editor", "NoDisplay=true\n"));
  write("root/usr/share/applications/gnome-only.desktop", entryText("Gnome Only", "editor", "OnlyShowIn=GNOME;\n"));
  write("root/usr/share/applications/not-kde.desktop", entryText("Not KDE", "editor", "NotShowIn=KDE;\n"));
  write("root/usr/share/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Site\nURL=https://example.org\n");
  auto catalog = load({"KDE"});
  EXPECT_EQ(catalog.find("editor.desktop"), nullptr);
  EXPECT_EQ(catalog.find("link.desktop"), nullptr);
  ASSERT_NE(catalog.find("helper.desktop"), nullptr);
  EXPECT_FALSE(catalog.find("helper.desktop")->shown);
  EXPECT_FALSE(catalog.find("gnome-only.desktop")->shown);
  EXPECT_FALSE(catalog.find("not-kde.desktop")->shown);
  catalog = load({"GNOME"});
  EXPECT_TRUE(catalog.find("gnome-only.desktop")->shown);
  EXPECT_TRUE(catalog.find("not-kde.desktop")->shown);
}

TEST_F(LinuxApplicationCatalogTest, FlatpakSnapAndAppImageEntriesAreFoundAndKnown) {
  write("root/var/lib/flatpak/exports/share/applications/org.example.Paint.desktop",
        entryText("Paint", "/usr/bin/flatpak run --branch=stable org.example.Paint", "X-Flatpak=org.example.Paint\n"));
  write("home/.local/share/flatpak/exports/share/applications/org.example.Chat.desktop",
        entryText("Chat", "/usr/bin/flatpak run org.example.Chat", "X-Flatpak=org.example.Chat\n"));
  write("root/var/lib/snapd/desktop/applications/notes_notes.desktop",
        entryText("Notes", "env BAMF_DESKTOP_FILE_HINT=x /snap/bin/notes %U", "X-SnapInstanceName=notes\n"));
  tree.file("home/Applications/Tool-1.0-x86_64.AppImage");
  write("home/.local/share/applications/appimagekit-tool.desktop",
        entryText("Tool", "\"" + tree.path("home/Applications/Tool-1.0-x86_64.AppImage") + "\" %U"));
  auto catalog = load();
  // The overrides put the root's data folders first, the export folders after them.
  EXPECT_EQ(catalog.directories().back(), tree.path("root/var/lib/snapd/desktop"));
  EXPECT_EQ(catalog.find("org.example.Paint.desktop")->kind, LinuxApplication::Kind::flatpak);
  EXPECT_EQ(catalog.find("org.example.Chat.desktop")->kind, LinuxApplication::Kind::flatpak);
  EXPECT_EQ(catalog.find("notes_notes.desktop")->kind, LinuxApplication::Kind::snap);
  EXPECT_EQ(catalog.find("notes_notes.desktop")->entry.executableName, "notes");
  ASSERT_NE(catalog.find("appimagekit-tool.desktop"), nullptr);
  EXPECT_EQ(catalog.find("appimagekit-tool.desktop")->kind, LinuxApplication::Kind::appImage);
  for (const auto& application : catalog.applications()) EXPECT_FALSE(application.broken) << *application.broken;
}

TEST_F(LinuxApplicationCatalogTest, BrokenAndMalformedEntriesAreKeptWithTheirReason) {
  write("root/usr/share/applications/gone.desktop", entryText("Gone", "/opt/gone/bin/gone"));
  write("root/usr/share/applications/try.desktop", entryText("Try", "editor", "TryExec=missing-program\n"));
  write("root/usr/share/applications/bad.desktop", "[Desktop Entry]\nType=Application\nName=Bad\nExec editor\n");
  write("home/.local/share/applications/bad.desktop", "[Desktop Entry]\nType=Application\nName=Bad\nExec editor\n");
  const auto catalog = load();
  EXPECT_EQ(catalog.find("gone.desktop")->broken, "Exec program not found: /opt/gone/bin/gone");
  EXPECT_EQ(catalog.find("try.desktop")->broken, "TryExec program not found: missing-program");
  // The refused user entry still takes the ID: the system's is not read in its place.
  ASSERT_EQ(catalog.refused().size(), 1u);
  EXPECT_EQ(catalog.refused()[0].path, tree.path("home/.local/share/applications/bad.desktop"));
  EXPECT_EQ(catalog.refused()[0].line, 4u);
  EXPECT_EQ(catalog.find("bad.desktop"), nullptr);
}

TEST_F(LinuxApplicationCatalogTest, DataFoldersFollowTheEnvironmentWithoutOverrides) {
  Paths::setRootOverride(std::nullopt);
  Paths::setHomeOverride(std::nullopt);
  ::setenv("XDG_DATA_HOME", tree.path("data-home").c_str(), 1);
  ::setenv("XDG_DATA_DIRS", (tree.path("one") + ":" + tree.path("two")).c_str(), 1);
  const auto folders = LinuxApplicationCatalog::dataDirectories();
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("XDG_DATA_DIRS");
  EXPECT_EQ(folders, (std::vector<std::string>{tree.path("data-home"), tree.path("one"), tree.path("two"),
                                               tree.path("data-home") + "/flatpak/exports/share",
                                               "/var/lib/flatpak/exports/share", "/var/lib/snapd/desktop"}));
}

// Read-only, over the machine's own entries: chromium's is installed with the build's packages.
TEST(LinuxApplicationCatalogMachineTest, ReadsTheMachinesOwnEntries) {
  if (platform::fileObjectTypeNotFollowingLink("/usr/share/applications/chromium.desktop") == platform::FileObjectType::unknown) {
    GTEST_SKIP() << "no /usr/share/applications/chromium.desktop here";
  }
  const auto catalog = LinuxApplicationCatalog::load({.desktops = std::vector<std::string>{}, .locale = "C",
                                                      .dataDirectories = std::vector<std::string>{"/usr/share"}});
  const auto* chromium = catalog.find("chromium.desktop");
  ASSERT_NE(chromium, nullptr);
  EXPECT_TRUE(chromium->entry.name.starts_with("Chromium")) << chromium->entry.name;
  EXPECT_EQ(chromium->kind, LinuxApplication::Kind::systemPackage);
  EXPECT_FALSE(chromium->broken);
  EXPECT_TRUE(catalog.unreadable().empty());
  for (const auto& refused : catalog.refused()) ADD_FAILURE() << refused.path << ": " << refused.reason;
}

}  // namespace
}  // namespace vantelkit

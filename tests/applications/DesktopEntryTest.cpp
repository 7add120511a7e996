#include "vantelkit/applications/DesktopEntry.h"

#include <gtest/gtest.h>

namespace vantelkit {
namespace {

Result<DesktopEntry> parse(std::string_view text, std::string_view locale = "C") {
  return DesktopEntry::parse(text, "org.example.Editor.desktop", "/usr/share/applications/org.example.Editor.desktop", locale);
}

constexpr std::string_view kEditor =
    "# written by hand\n"
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Name=Editor\n"
    "Name[de]=Bearbeiter\n"
    "Name[de_CH]=Schriiber\n"
    "Name[sr@latin]=Urednik\n"
    "Comment=Edits text\\sand more\n"
    "Exec=env GDK_BACKEND=x11 \"/opt/my editor/bin/editor\" --new %F\n"
    "Icon=org.example.Editor\n"
    "StartupWMClass=EditorMain\n"
    "Categories=Utility;TextEditor;\n"
    "OnlyShowIn=GNOME;XFCE;\n"
    "\n"
    "[Desktop Action new]\n"
    "Name=New window\n"
    "Exec=editor --window\n";

TEST(DesktopEntryTest, ReadsTheKeysThatMatter) {
  auto entry = parse(kEditor);
  ASSERT_TRUE(entry) << entry.error()->localizedDescription();
  EXPECT_EQ(entry->name, "Editor");
  EXPECT_EQ(entry->comment, "Edits text and more");
  EXPECT_EQ(entry->program, "/opt/my editor/bin/editor");
  EXPECT_EQ(entry->executableName, "editor");
  EXPECT_EQ(entry->startupWMClass, "EditorMain");
  EXPECT_EQ(entry->categories, (std::vector<std::string>{"Utility", "TextEditor"}));
  EXPECT_EQ(entry->onlyShowIn, (std::vector<std::string>{"GNOME", "XFCE"}));
  EXPECT_FALSE(entry->flatpakId);
}

TEST(DesktopEntryTest, NamesFollowTheLocaleWithItsFallbacks) {
  EXPECT_EQ(parse(kEditor, "de_CH.UTF-8")->name, "Schriiber");
  EXPECT_EQ(parse(kEditor, "de_AT.UTF-8")->name, "Bearbeiter");
  EXPECT_EQ(parse(kEditor, "de")->name, "Bearbeiter");
  EXPECT_EQ(parse(kEditor, "sr_RS@latin")->name, "Urednik");
  EXPECT_EQ(parse(kEditor, "fr_FR.UTF-8")->name, "Editor");
  EXPECT_EQ(parse(kEditor, "")->name, "Editor");
}

TEST(DesktopEntryTest, AMalformedFileIsRefusedWithItsLine) {
  struct Case {
    std::string text;
    std::size_t line;
  };
  const std::vector<Case> cases{
      {"[Desktop Entry]\nType=Application\nName=X\nthis is no key\nExec=x\n", 4},
      {"Name=X\n[Desktop Entry]\nType=Application\n", 1},
      {"[Desktop Entry\nType=Application\n", 1},
      {"[Desktop Entry]\nType=Application\nName=\xff\xfe\nExec=x\n", 3},
      {std::string("[Desktop Entry]\nType=Application\nName=X\0Y\n", 41), 3},
      {"[Other Group]\nName=X\n", 0},
  };
  for (const auto& c : cases) {
    auto entry = parse(c.text);
    ASSERT_FALSE(entry) << c.text;
    const auto* error = entry.errorAs<DesktopEntryError>();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->kind(), DesktopEntryError::Case::malformed) << c.text;
    EXPECT_EQ(error->line(), c.line) << c.text << ": " << error->localizedDescription();
    if (c.line > 0) {
      EXPECT_TRUE(error->localizedDescription().starts_with("line " + std::to_string(c.line) + ": "));
    }
  }
}

TEST(DesktopEntryTest, RequiredKeysAreChecked) {
  auto noName = parse("[Desktop Entry]\nType=Application\nExec=x\n");
  ASSERT_FALSE(noName);
  EXPECT_EQ(noName.errorAs<DesktopEntryError>()->kind(), DesktopEntryError::Case::missingKey);
  EXPECT_EQ(noName.error()->localizedDescription(), "no Name key");
  EXPECT_FALSE(parse("[Desktop Entry]\nType=Application\nName=X\n"));
  EXPECT_TRUE(parse("[Desktop Entry]\nType=Application\nName=X\nDBusActivatable=true\n"));
  EXPECT_TRUE(parse("[Desktop Entry]\nType=Link\nName=X\nURL=https://example.org\n"));
  // A Hidden entry only deletes its ID: nothing else is required of it.
  auto hidden = parse("[Desktop Entry]\nHidden=true\n");
  ASSERT_TRUE(hidden);
  EXPECT_TRUE(hidden->hidden);
}

TEST(DesktopEntryTest, ExecNamesItsProgram) {
  EXPECT_EQ(parse("[Desktop Entry]\nType=Application\nName=X\nExec=/usr/bin/flatpak run --branch=stable "
                  "--command=gimp-2.10 org.gimp.GIMP %U\nX-Flatpak=org.gimp.GIMP\n")
                ->executableName,
            "gimp-2.10");
  auto snap = parse("[Desktop Entry]\nType=Application\nName=X\nExec=env BAMF_DESKTOP_FILE_HINT=/var/lib/snapd/desktop/"
                    "applications/foo_foo.desktop /snap/bin/foo %U\nX-SnapInstanceName=foo\n");
  EXPECT_EQ(snap->program, "/snap/bin/foo");
  EXPECT_EQ(snap->snapName, "foo");
  auto unterminated = parse("[Desktop Entry]\nType=Application\nName=X\nExec=\"/opt/a b\n");
  ASSERT_TRUE(unterminated);
  EXPECT_FALSE(unterminated->program);
  EXPECT_EQ(DesktopEntry::splitExec(R"(a "b \"c\" \$d" e)"), (std::vector<std::string>{"a", "b \"c\" $d", "e"}));
}

TEST(DesktopEntryTest, MenusFollowNoDisplayHiddenAndTheDesktop) {
  DesktopEntry entry;
  EXPECT_TRUE(entry.isShown({}));
  entry.onlyShowIn = {"GNOME"};
  EXPECT_TRUE(entry.isShown({"ubuntu", "gnome"}));
  EXPECT_FALSE(entry.isShown({"KDE"}));
  EXPECT_FALSE(entry.isShown({}));
  entry.onlyShowIn.clear();
  entry.notShowIn = {"KDE"};
  EXPECT_FALSE(entry.isShown({"KDE"}));
  EXPECT_TRUE(entry.isShown({"XFCE"}));
  entry.noDisplay = true;
  EXPECT_FALSE(entry.isShown({"XFCE"}));
  EXPECT_EQ(DesktopEntry::desktopIdFor("kde/okular.desktop"), "kde-okular.desktop");
}

}  // namespace
}  // namespace vantelkit

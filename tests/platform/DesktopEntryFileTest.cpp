#include "vantelkit/platform/DesktopEntryFile.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "vantelkit/platform/Paths.h"

namespace vantelkit::platform {
namespace {

TEST(DesktopEntryFileTest, LocalizedKeysAndPlainValues) {
  const auto read = readDesktopEntryText(
      "[Desktop Entry]\nName=Files\nName[fr]=Fichiers\nExec=nautilus --new-window %U\nKeywords=folder;manager;\n", "fr_FR.UTF-8");
  ASSERT_TRUE(read.keys);
  EXPECT_FALSE(read.failure);
  EXPECT_EQ(read.keys->values.at("Name"), "Files");
  EXPECT_EQ(read.keys->localizedValues.at("Name"), "Fichiers");
  EXPECT_EQ(read.keys->values.at("Exec"), "nautilus --new-window %U");
  EXPECT_EQ(read.keys->localizedValues.at("Keywords"), "folder;manager;");
  EXPECT_FALSE(read.keys->values.contains("Name[fr]"));
}

TEST(DesktopEntryFileTest, TheDesktopAndTheSearchPathComeFromTheEnvironmentUnlessIgnored) {
  const char* path = std::getenv("PATH");
  const std::string savedPath = path ? path : "";
  ::setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME::", 1);
  ::setenv("PATH", "/opt/tools/bin:relative:/usr/bin", 1);
  EXPECT_EQ(currentDesktops(), (std::vector<std::string>{"ubuntu", "GNOME"}));
  EXPECT_EQ(executableSearchPath(), (std::vector<std::string>{"/opt/tools/bin", "/usr/bin"}));
  Paths::setRootOverride("/srv/image");
  EXPECT_TRUE(currentDesktops().empty());
  EXPECT_EQ(executableSearchPath().front(), "/srv/image/usr/local/sbin");
  Paths::setRootOverride(std::nullopt);
  ::unsetenv("XDG_CURRENT_DESKTOP");
  if (path) ::setenv("PATH", savedPath.c_str(), 1);
  else ::unsetenv("PATH");
  EXPECT_TRUE(currentDesktops().empty());
}

}  // namespace
}  // namespace vantelkit::platform

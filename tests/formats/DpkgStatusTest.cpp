#include "vantelkit/formats/DpkgStatus.h"

#include <gtest/gtest.h>

namespace vantelkit {
namespace {

TEST(DpkgStatusTest, KeepsInstalledPackagesWithVersionAndSize) {
  const auto packages = parseDpkgStatus(
      "Package: chromium\nStatus: install ok installed\nInstalled-Size: 2\nVersion: 120.0-1\n"
      "Description: a browser\n with a continued line\n Version: not a field here\n\n"
      "Package: removed\nStatus: deinstall ok config-files\nVersion: 1.0\n\n\n"
      "Package: libc6\nArchitecture: amd64\nStatus: install ok installed\nVersion: 2.36\nInstalled-Size: x\n\n"
      "Package: libc6\nArchitecture: i386\nStatus: install ok installed\nVersion: 2.36\n\n"
      "Package: noversion\nStatus: install ok installed\n\n"
      "Package: last\r\nStatus: install ok installed\r\nVersion: 3\r\nInstalled-Size: 99999999999999999999");
  ASSERT_EQ(packages.size(), 3u);
  EXPECT_EQ(packages.at("chromium"), (DpkgPackage{"chromium", "120.0-1", 2048}));
  EXPECT_EQ(packages.at("libc6"), (DpkgPackage{"libc6", "2.36", std::nullopt}));
  EXPECT_EQ(packages.at("last"), (DpkgPackage{"last", "3", std::nullopt}));
}

TEST(DpkgStatusTest, ListFilesNameTheirPackage) {
  EXPECT_EQ(dpkgListPackageName("chromium.list"), "chromium");
  EXPECT_EQ(dpkgListPackageName("libc6:amd64.list"), "libc6");
  EXPECT_FALSE(dpkgListPackageName("chromium.md5sums"));
  EXPECT_FALSE(dpkgListPackageName(".list"));
  EXPECT_FALSE(dpkgListPackageName(":amd64.list"));
}

}  // namespace
}  // namespace vantelkit

// A prepared system root and user home for the application inventory: application bundles
// and library folders in a temporary folder, with the path overrides pointed at it for the
// builder's lifetime (and reset afterwards).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/ScanFixtureTree.h"

namespace vantelkit::testing {

class ApplicationLayout {
 public:
  ApplicationLayout();
  ~ApplicationLayout();
  ApplicationLayout(const ApplicationLayout&) = delete;
  ApplicationLayout& operator=(const ApplicationLayout&) = delete;

  // root + "/" + relative (the root stands for "/").
  std::string system(std::string_view relative) const;
  // home + "/" + relative.
  std::string home(std::string_view relative) const;

  // An application bundle at path (absolute, from system() or home()) with an executable of
  // executableSize bytes. Returns path.
  std::string application(const std::string& path, std::string_view identifier, std::string_view name,
                          std::int64_t executableSize = 100, std::string_view version = "1.0");
  // A file of size bytes at path, parents made.
  std::string file(const std::string& path, std::int64_t size = 10);
  std::string directory(const std::string& path);

 private:
  vantel::testing::ScanFixtureTree _tree;
};

}  // namespace vantelkit::testing

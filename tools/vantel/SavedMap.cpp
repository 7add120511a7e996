#include "SavedMap.h"

#include <fmt/core.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "TextOutput.h"
#include "vantelkit/diskmap/DiskMapImport.h"
#include "vantelkit/platform/FileStatus.h"

namespace vantel {

// Reads a saved map, or prints why it cannot (answers null then).
std::shared_ptr<vantelkit::DiskMap> readSavedMap(const std::string& file) {
  std::string text;
  if (file == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    text = buffer.str();
  } else {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      fmt::print(stderr, "vantel: cannot read {}: {}\n", vantel::escapedForTerminal(file),
                 vantelkit::platform::errorDescription(vantelkit::platform::lastErrorNumber()));
      return nullptr;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
  }
  auto read = vantelkit::DiskMapImport::read(text);
  if (!read) {
    fmt::print(stderr, "vantel: {}:{}\n", vantel::escapedForTerminal(file), read.error()->localizedDescription());
    return nullptr;
  }
  return std::move(read).value();
}

}  // namespace vantel

// The collector kinds a scan can be configured with by name.
// Thread safety: pure functions, safe from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "vantelkit/scanning/FileCollector.h"

namespace vantelkit {

enum class FileCollectorOptions {
  files,
  filesIgnoringDsStore,
  directories,
  filesAndDirectories,
  packages,
  diskImages,
  xcodeArchives,
};

// None for any text other than the case names.
std::optional<FileCollectorOptions> fileCollectorOptionsFromRawValue(std::string_view rawValue);
std::string_view rawValue(FileCollectorOptions option);
// A fresh collector of the option's kind, with no files.
std::shared_ptr<FileCollector> makeCollector(FileCollectorOptions option);

}  // namespace vantelkit

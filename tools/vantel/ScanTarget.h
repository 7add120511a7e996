// What the scanning commands share: the folder named on the command line, made absolute
// and checked, the tuning options of the scanner, and byte counts for people.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "vantelkit/diskmap/DiskScanner.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantel {

struct ScanTarget {
  vantelkit::FileURL url;
  // The path as given, for messages and output.
  std::string path;
};

// The folder at path, or none after printing one clear message to stderr (missing, or not
// a folder nor a link).
std::optional<ScanTarget> resolveScanTarget(const std::string& path);

// Hidden options for benchmarks: traversal threads and the fan-out rule.
struct ScannerTuning {
  int threads = 0;
  std::string fanOut = "slots";
  void addOptions(CLI::App& command);
  // Applies the options; false (after a message) for an unknown rule.
  bool apply(vantelkit::DiskScanner& scanner) const;
};

// "1.2 GB", "532 bytes": decimal units, as file managers show sizes.
std::string formatBytes(std::int64_t bytes);

}  // namespace vantel

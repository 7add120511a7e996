#include "ScanTarget.h"

#include <fmt/core.h>

#include <array>

namespace vantel {

std::optional<ScanTarget> resolveScanTarget(const std::string& path) {
  auto url = vantelkit::FileURL::fileURLWithPath(path, true);
  using Type = vantelkit::FileURL::FileType;
  switch (url.fileType()) {
    case Type::directory:
    case Type::symbolicLink:
      return ScanTarget{url, path};
    case Type::unknown:
      fmt::print(stderr, "vantel: {}: no such file or folder\n", path);
      return std::nullopt;
    default:
      fmt::print(stderr, "vantel: {}: not a folder\n", path);
      return std::nullopt;
  }
}

void ScannerTuning::addOptions(CLI::App& command) {
  command.add_option("--threads", threads, "Traversal threads (default: one per processor)")->group("");
  command.add_option("--fan-out", fanOut, "Fan-out rule: slots or wide")->group("");
}

bool ScannerTuning::apply(vantelkit::DiskScanner& scanner) const {
  if (threads > 0) scanner.setMaxConcurrentTraversals(threads);
  if (fanOut == "slots") {
    scanner.setFanOut(vantelkit::DiskScanner::FanOut::whileSlotsFree);
  } else if (fanOut == "wide") {
    scanner.setFanOut(vantelkit::DiskScanner::FanOut::wideParentsOnly);
  } else {
    fmt::print(stderr, "vantel: unknown fan-out rule {}\n", fanOut);
    return false;
  }
  return true;
}

std::string formatBytes(std::int64_t bytes) {
  if (bytes < 1000) return fmt::format("{} bytes", bytes);
  static constexpr std::array<const char*, 6> units{"KB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  value /= 1000;
  while (value >= 999.95 && unit + 1 < units.size()) {
    value /= 1000;
    ++unit;
  }
  return fmt::format("{:.1f} {}", value, units[unit]);
}

}  // namespace vantel

// The nine groups of a clean scan, in their fixed order, with raw values and localized texts.
// Thread safety: plain values; every function is safe to call from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantelkit {

enum class CleanScanGroup {
  downloads,
  userCache,
  systemLogs,
  userLogs,
  developer,
  packages,
  diskImages,
  largeFiles,
  mailAttachments,
};

// Every group in declaration order.
inline constexpr std::array<CleanScanGroup, 9> allCleanScanGroups{
    CleanScanGroup::downloads,  CleanScanGroup::userCache,  CleanScanGroup::systemLogs,
    CleanScanGroup::userLogs,   CleanScanGroup::developer,  CleanScanGroup::packages,
    CleanScanGroup::diskImages, CleanScanGroup::largeFiles, CleanScanGroup::mailAttachments,
};

// The case name: "downloads", "userCache", ...
std::string_view rawValue(CleanScanGroup group);
// The group whose raw value is exactly text (case-sensitive), or none.
std::optional<CleanScanGroup> cleanScanGroupFromRawValue(std::string_view text);

// The localization keys of the group's name and description ("clean_user_cache", ...).
std::string_view nameKey(CleanScanGroup group);
std::string_view descriptionKey(CleanScanGroup group);
// The localized texts of those keys, resolved once per key.
std::string localizedName(CleanScanGroup group);
std::string localizedDescription(CleanScanGroup group);

}  // namespace vantelkit

// Hashes the raw value text.
template <>
struct std::hash<vantelkit::CleanScanGroup> {
  std::size_t operator()(vantelkit::CleanScanGroup group) const noexcept {
    return std::hash<std::string_view>{}(vantelkit::rawValue(group));
  }
};

#include "vantelkit/clean/CleanScanGroup.h"

#include "vantelkit/foundation/LocalizedStrings.h"

namespace vantelkit {

namespace {

struct GroupTexts {
  std::string_view rawValue;
  std::string_view nameKey;
  std::string_view descriptionKey;
};

constexpr std::array<GroupTexts, 9> kGroupTexts{{
    {"downloads", "clean_downloads", "clean_downloads_description"},
    {"userCache", "clean_user_cache", "clean_user_cache_description"},
    {"systemLogs", "clean_system_logs", "clean_system_logs_description"},
    {"userLogs", "clean_user_logs", "clean_user_logs_description"},
    {"developer", "clean_developer", "clean_developer_description"},
    {"packages", "clean_installer_packages", "clean_installer_packages_description"},
    {"diskImages", "clean_disk_images", "clean_disk_images_description"},
    {"largeFiles", "clean_large_files", "clean_large_files_description"},
    {"mailAttachments", "clean_mail_attachments", "clean_mail_attachments_description"},
}};

const GroupTexts& textsOf(CleanScanGroup group) { return kGroupTexts.at(static_cast<std::size_t>(group)); }

}  // namespace

std::string_view rawValue(CleanScanGroup group) { return textsOf(group).rawValue; }

std::optional<CleanScanGroup> cleanScanGroupFromRawValue(std::string_view text) {
  for (CleanScanGroup group : allCleanScanGroups) {
    if (rawValue(group) == text) return group;
  }
  return std::nullopt;
}

std::string_view nameKey(CleanScanGroup group) { return textsOf(group).nameKey; }
std::string_view descriptionKey(CleanScanGroup group) { return textsOf(group).descriptionKey; }

std::string localizedName(CleanScanGroup group) { return localizedString(nameKey(group)); }
std::string localizedDescription(CleanScanGroup group) { return localizedString(descriptionKey(group)); }

}  // namespace vantelkit

#include "vantelkit/applications/ApplicationResourceGroup.h"

#include "vantelkit/applications/FileIcon.h"
#include "vantelkit/foundation/LocalizedStrings.h"

namespace vantelkit {

namespace {

struct CategoryTexts {
  std::string_view rawValue;
  std::string_view key;
};

constexpr std::array<CategoryTexts, 12> kCategoryTexts{{
    {"binaries", "application_resource_binaries"},
    {"caches", "application_resource_caches"},
    {"containers", "application_resource_containers"},
    {"groupContainers", "application_resource_group_containers"},
    {"supportFiles", "application_resource_support_files"},
    {"preferences", "application_resource_preferences"},
    {"helperTools", "application_resource_helper_tools"},
    {"loginItems", "application_resource_login_items"},
    {"scripts", "application_resource_scripts"},
    {"plugins", "application_resource_plugins"},
    {"logs", "application_resource_logs"},
    {"other", "application_resource_other"},
}};

}  // namespace

std::string_view ApplicationResourceGroup::rawValue(Category category) {
  return kCategoryTexts.at(static_cast<std::size_t>(category)).rawValue;
}

std::optional<ApplicationResourceGroup::Category> ApplicationResourceGroup::categoryFromRawValue(
    std::string_view text) {
  for (Category category : allCategories) {
    if (rawValue(category) == text) return category;
  }
  return std::nullopt;
}

std::string_view ApplicationResourceGroup::localizationKey(Category category) {
  return kCategoryTexts.at(static_cast<std::size_t>(category)).key;
}

std::string ApplicationResourceGroup::localizedName(Category category) {
  return localizedString(localizationKey(category));
}

ApplicationResourceGroup::Resource::Resource(std::string name, FileURL url, std::int64_t size,
                                             std::optional<platform::Image> icon, FileNode::NodeType type)
    : name(std::move(name)), url(std::move(url)), size(size), icon(std::move(icon)), type(type) {}

ApplicationResourceGroup::Resource::Resource(const FileNode& fileNode)
    : name(fileNode.url().lastPathComponent()),
      url(fileNode.url()),
      size(fileNode.size()),
      icon(fileIcon(fileNode.url(), 128)),
      type(fileNode.type()) {}

std::int64_t ApplicationResourceGroup::totalSize() const {
  std::int64_t total = 0;
  for (const auto& file : files) {
    if (file) total += file->size;
  }
  return total;
}

}  // namespace vantelkit

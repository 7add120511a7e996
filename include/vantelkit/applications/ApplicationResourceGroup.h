// One category of an application's files (its binaries, caches, preferences, ...) with one
// Resource per file or folder. Groups are equal (and hash alike) by category; resources by URL.
// Thread safety: one owner at a time; the application scanner hands groups from stage to
// stage, and the localized names are safe to ask from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/platform/Image.h"
#include "vantelkit/scanning/FileNode.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class ApplicationResourceGroup {
 public:
  enum class Category {
    binaries,
    caches,
    containers,
    groupContainers,
    supportFiles,
    preferences,
    helperTools,
    loginItems,
    scripts,
    plugins,
    logs,
    other,
  };
  static constexpr std::array<Category, 12> allCategories{
      Category::binaries,    Category::caches,     Category::containers, Category::groupContainers,
      Category::supportFiles, Category::preferences, Category::helperTools, Category::loginItems,
      Category::scripts,     Category::plugins,    Category::logs,       Category::other,
  };
  // The case name ("groupContainers").
  static std::string_view rawValue(Category category);
  // The category whose raw value is exactly text (case-sensitive), or none.
  static std::optional<Category> categoryFromRawValue(std::string_view text);
  // "application_resource_group_containers", ...
  static std::string_view localizationKey(Category category);
  // The localized text of the key, resolved once per key and kept.
  static std::string localizedName(Category category);

  class Resource {
   public:
    Resource(std::string name, FileURL url, std::int64_t size, std::optional<platform::Image> icon,
             FileNode::NodeType type);
    // From a scanned node: its name, URL, size and type, and the file's icon at 128 points.
    explicit Resource(const FileNode& fileNode);
    static std::shared_ptr<Resource> make(const FileNode& fileNode) { return std::make_shared<Resource>(fileNode); }
    Resource(const Resource&) = delete;
    Resource& operator=(const Resource&) = delete;

    std::string name;
    FileURL url;
    std::int64_t size = 0;
    std::optional<platform::Image> icon;
    FileNode::NodeType type = FileNode::NodeType::none;

    // By URL alone.
    bool operator==(const Resource& other) const { return url == other.url; }
    std::size_t hash() const { return url.hash(); }
  };

  ApplicationResourceGroup(Category category, std::vector<std::shared_ptr<Resource>> files = {})
      : category(category), files(std::move(files)) {}
  static std::shared_ptr<ApplicationResourceGroup> make(Category category,
                                                        std::vector<std::shared_ptr<Resource>> files = {}) {
    return std::make_shared<ApplicationResourceGroup>(category, std::move(files));
  }
  ApplicationResourceGroup(const ApplicationResourceGroup&) = delete;
  ApplicationResourceGroup& operator=(const ApplicationResourceGroup&) = delete;

  Category category;
  // Null entries are allowed and count as size 0.
  std::vector<std::shared_ptr<Resource>> files;

  // The sum of the files' sizes; 0 for an empty group.
  std::int64_t totalSize() const;

  // By category alone.
  bool operator==(const ApplicationResourceGroup& other) const { return category == other.category; }
  std::size_t hash() const { return std::hash<std::string_view>{}(rawValue(category)); }
};

// Hash and equality through the pointers, for sets of shared groups and resources.
struct ApplicationResourceGroupHash {
  std::size_t operator()(const std::shared_ptr<ApplicationResourceGroup>& group) const {
    return group ? group->hash() : 0;
  }
};
struct ApplicationResourceGroupEqual {
  bool operator()(const std::shared_ptr<ApplicationResourceGroup>& a,
                  const std::shared_ptr<ApplicationResourceGroup>& b) const {
    if (!a || !b) return a == b;
    return *a == *b;
  }
};
struct ApplicationResourceHash {
  std::size_t operator()(const std::shared_ptr<ApplicationResourceGroup::Resource>& resource) const {
    return resource ? resource->hash() : 0;
  }
};
struct ApplicationResourceEqual {
  bool operator()(const std::shared_ptr<ApplicationResourceGroup::Resource>& a,
                  const std::shared_ptr<ApplicationResourceGroup::Resource>& b) const {
    if (!a || !b) return a == b;
    return *a == *b;
  }
};

}  // namespace vantelkit

template <>
struct std::hash<vantelkit::ApplicationResourceGroup::Category> {
  std::size_t operator()(vantelkit::ApplicationResourceGroup::Category category) const noexcept {
    return std::hash<std::string_view>{}(vantelkit::ApplicationResourceGroup::rawValue(category));
  }
};

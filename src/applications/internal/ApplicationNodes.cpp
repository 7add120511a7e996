#include "applications/internal/ApplicationNodes.h"

#include <algorithm>
#include <string>

namespace vantelkit::internal {

std::vector<std::shared_ptr<FileNode>> inLocationOrder(std::vector<std::shared_ptr<FileNode>> nodes,
                                                       const std::vector<FileURL>& locations) {
  std::vector<std::string> prefixes;
  for (const auto& location : locations) {
    std::string prefix = location.path();
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    prefixes.push_back(std::move(prefix));
  }
  struct Keyed {
    std::size_t location;
    std::string path;
    std::shared_ptr<FileNode> node;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(nodes.size());
  for (auto& node : nodes) {
    if (!node) continue;
    std::string path = node->url().path();
    std::size_t location = 0;
    while (location < prefixes.size() && path.compare(0, prefixes[location].size(), prefixes[location]) != 0) {
      ++location;
    }
    keyed.push_back({location, std::move(path), std::move(node)});
  }
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return a.location != b.location ? a.location < b.location : a.path < b.path;
  });
  std::vector<std::shared_ptr<FileNode>> ordered;
  ordered.reserve(keyed.size());
  for (auto& entry : keyed) ordered.push_back(std::move(entry.node));
  return ordered;
}

ApplicationItemSet applicationItems(const std::vector<std::shared_ptr<FileNode>>& nodes,
                                    const std::vector<std::string_view>& excludedNames) {
  ApplicationItemSet items;
  for (const auto& node : nodes) {
    const std::string& name = node->name();
    if (std::find(excludedNames.begin(), excludedNames.end(), name) != excludedNames.end()) continue;
    if (auto item = ApplicationItem::make(node)) items.insert(std::move(item));
  }
  return items;
}

}  // namespace vantelkit::internal

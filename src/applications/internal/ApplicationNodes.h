// Turning the ".app" nodes that a scan of several folders collected into application items.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "vantelkit/applications/ApplicationItem.h"
#include "vantelkit/scanning/FileNode.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit::internal {

// nodes in the order of the folder each lies in (by locations' order), then by path: the
// order in which a one-threaded walk of the folders would have found them, so that "first
// found" does not depend on how the traversal threads happened to run.
std::vector<std::shared_ptr<FileNode>> inLocationOrder(std::vector<std::shared_ptr<FileNode>> nodes,
                                                       const std::vector<FileURL>& locations);

// One item per bundle identifier, the first in nodes winning; nodes that are no application
// bundle, and those whose folder name is in excludedNames, are skipped.
ApplicationItemSet applicationItems(const std::vector<std::shared_ptr<FileNode>>& nodes,
                                    const std::vector<std::string_view>& excludedNames);

}  // namespace vantelkit::internal

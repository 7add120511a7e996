// What the scans of the Linux piles (trash, thumbnails, system logs) share: a walk of a folder
// whose tree a later step reads, the sizes of nodes in the chosen measure, and the last phase
// that measures the folders left unmeasured, adds the containers' sizes up and hands the
// items over on the main queue.
// Thread safety: free functions; the phase is built on the main queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/clean/CleanScanItem.h"
#include "vantelkit/diskmap/DiskMapProcedure.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit::internal {

using UnreadableList = std::vector<DiskScanResult::UnreadableEntry>;
using UnreadableSink = std::function<void(const UnreadableList&)>;

// True when path is a folder (a link is not one).
bool isFolder(const std::string& path);

// A walk of folder (tree built, links never followed) down to depthLimit levels (none: all).
std::shared_ptr<DiskMapProcedure> makeWalk(const std::string& folder, std::optional<int> depthLimit);

// The walk's result once it has finished; null when it produced none.
std::shared_ptr<DiskScanResult> walkResult(const std::shared_ptr<DiskMapProcedure>& walk);

// The node's logical size, or its allocated bytes with usage; 0 for a negative value.
std::uint64_t measure(const FileNode& node, bool usage);

// The child of node named name; null when there is none.
std::shared_ptr<FileNode> childNamed(const FileNode& node, std::string_view name);

// An item for node with a name and a reason, sized in the chosen measure.
std::shared_ptr<CleanScanItem> reasonedItem(std::shared_ptr<FileNode> node, std::optional<std::string> name,
                                            std::optional<std::string> reason, bool usage);

// Sets every container's size (an item with children) to the sum of its children's, depth
// first; answers the item's size.
std::uint64_t sumContainers(CleanScanItem& item);

// One item whose folder is still to be measured.
struct PendingMeasurement {
  std::shared_ptr<CleanScanItem> item;
  std::string folder;
};

// Adds to group: a size procedure per pending item (setting its size in the chosen measure and
// handing what it could not read to unreadable), then a block that sums every container of
// items and calls deliver(items) on the main queue before it finishes. Call on the main queue
// while the group runs.
void addFinalPhase(GroupProcedure& group, std::vector<PendingMeasurement> pending, CleanScanItemSet items, bool usage,
                   UnreadableSink unreadable, std::function<void(CleanScanItemSet)> deliver);

// A block that runs build on the group's queue once every walk has finished, then, on the
// main queue, the final phase with what build answered (added to group(), which is null once
// the group is gone). build gets the pending list to fill
// and answers the items.
using BuildStep = std::function<CleanScanItemSet(std::vector<PendingMeasurement>& pending)>;
std::shared_ptr<Operation> makeBuildAndFinish(std::function<std::shared_ptr<GroupProcedure>()> group,
                                              const std::vector<std::shared_ptr<DiskMapProcedure>>& walks,
                                              BuildStep build, bool usage, UnreadableSink unreadable,
                                              std::function<void(CleanScanItemSet)> deliver);

}  // namespace vantelkit::internal

#include "clean/internal/PileScan.h"

#include "vantelkit/diskmap/SizeProcedure.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/FileStatus.h"

namespace vantelkit::internal {

bool isFolder(const std::string& path) {
  return platform::fileObjectTypeNotFollowingLink(path) == platform::FileObjectType::directory;
}

std::shared_ptr<DiskMapProcedure> makeWalk(const std::string& folder, std::optional<int> depthLimit) {
  return std::make_shared<DiskMapProcedure>(FileURL::fileURLWithPath(folder, true), false, depthLimit);
}

std::shared_ptr<DiskScanResult> walkResult(const std::shared_ptr<DiskMapProcedure>& walk) {
  if (!walk) return nullptr;
  auto value = walk->successValue();
  return value ? *value : nullptr;
}

std::uint64_t measure(const FileNode& node, bool usage) {
  const std::int64_t bytes = usage ? node.usage() : node.size();
  return bytes < 0 ? 0 : static_cast<std::uint64_t>(bytes);
}

std::shared_ptr<FileNode> childNamed(const FileNode& node, std::string_view name) {
  for (const auto& child : node.children())
    if (child && child->name() == name) return child;
  return nullptr;
}

std::shared_ptr<CleanScanItem> reasonedItem(std::shared_ptr<FileNode> node, std::optional<std::string> name,
                                            std::optional<std::string> reason, bool usage) {
  const std::uint64_t size = node ? measure(*node, usage) : 0;
  auto item = CleanScanItem::make(std::move(node), {}, std::move(name));
  item->size = size;
  item->reason = std::move(reason);
  return item;
}

std::uint64_t sumContainers(CleanScanItem& item) {
  if (item.children.empty()) return item.size;
  std::uint64_t total = 0;
  for (const auto& child : item.children)
    if (child) total += sumContainers(*child);
  item.size = total;
  return total;
}

void addFinalPhase(GroupProcedure& group, std::vector<PendingMeasurement> pending, CleanScanItemSet items, bool usage,
                   UnreadableSink unreadable, std::function<void(CleanScanItemSet)> deliver) {
  auto measurements = std::make_shared<GroupProcedure>();
  measurements->setQualityOfService(QualityOfService::userInitiated);
  for (auto& entry : pending) {
    auto size = SizeProcedure::make(FileURL::fileURLWithPath(entry.folder, true));
    std::weak_ptr<SizeProcedure> weakSize = size;
    auto set =
        resultProcessingProcedure(size, [item = entry.item, weakSize, usage, unreadable](const std::int64_t& bytes) {
          auto measured = weakSize.lock();
          const std::int64_t value = usage && measured ? measured->usage() : bytes;
          item->size = value < 0 ? 0 : static_cast<std::uint64_t>(value);
          if (measured && unreadable) unreadable(measured->unreadable());
        });
    measurements->addChild(size);
    measurements->addChild(set);
  }
  auto end = std::make_shared<BlockProcedure>(
      [items = std::move(items), deliver = std::move(deliver)](BlockProcedure& block) mutable {
        for (const auto& item : items)
          if (item) sumContainers(*item);
        auto strongBlock = block.sharedAs<BlockProcedure>();
        DispatchQueue::main()->async([items = std::move(items), deliver = std::move(deliver), strongBlock] {
          deliver(items);
          strongBlock->finish();
        });
      });
  end->addDependency(measurements);
  group.addChild(measurements);
  group.addChild(end);
}

std::shared_ptr<Operation> makeBuildAndFinish(std::function<std::shared_ptr<GroupProcedure>()> group,
                                              const std::vector<std::shared_ptr<DiskMapProcedure>>& walks,
                                              BuildStep build, bool usage, UnreadableSink unreadable,
                                              std::function<void(CleanScanItemSet)> deliver) {
  auto block = std::make_shared<BlockProcedure>([group = std::move(group), build = std::move(build), usage,
                                                 unreadable = std::move(unreadable),
                                                 deliver = std::move(deliver)](BlockProcedure& procedure) mutable {
    std::vector<PendingMeasurement> pending;
    CleanScanItemSet items = build(pending);
    auto strongBlock = procedure.sharedAs<BlockProcedure>();
    DispatchQueue::main()->async([group, pending = std::move(pending), items = std::move(items), usage, unreadable,
                                  deliver, strongBlock]() mutable {
      if (auto strong = group())
        addFinalPhase(*strong, std::move(pending), std::move(items), usage, unreadable, deliver);
      strongBlock->finish();
    });
  });
  for (const auto& walk : walks) block->addDependency(walk);
  return block;
}

}  // namespace vantelkit::internal

#include "vantelkit/clean/DeveloperCleanScanProcedure.h"

#include <filesystem>
#include <functional>

#include "vantelkit/scanning/SimpleFileScanProcedure.h"
#include "vantelkit/diskmap/SizeProcedure.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/foundation/PropertyList.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {

namespace {

using Items = std::vector<std::shared_ptr<CleanScanItem>>;

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

std::optional<Value::Dictionary> loadDictionary(const FileURL& file) {
  auto loaded = PropertyList::load(file.path());
  if (!loaded || !*loaded) return std::nullopt;
  return std::move(**loaded);
}

const std::string* textIn(const Value::Dictionary& dictionary, std::string_view key) {
  auto found = dictionary.find(key);
  return found == dictionary.end() ? nullptr : found->second.text();
}

// A folder as a container's file: size 0 until the size phase, no parent.
std::shared_ptr<FileNode> folderNode(const FileURL& folder) {
  return FileNode::make(folder, nullptr, 0, FileNode::NodeType::directory);
}

std::uint64_t sizeOf(std::int64_t bytes) { return bytes < 0 ? 0 : static_cast<std::uint64_t>(bytes); }

using UnreadableSink = std::function<void(const DeveloperCleanScanProcedure::Unreadable&)>;

// A size procedure for the item's file and the block after it that sets the item's size
// (its allocated bytes when usage is set) and hands what it could not read to unreadable.
void addSizeMeasurement(GroupProcedure& group, const std::shared_ptr<CleanScanItem>& item, bool usage,
                        const UnreadableSink& unreadable) {
  auto size = SizeProcedure::make(item->file->url());
  std::weak_ptr<SizeProcedure> weakSize = size;
  auto set = resultProcessingProcedure(size, [item, weakSize, usage, unreadable](const std::int64_t& bytes) {
    auto measured = weakSize.lock();
    item->size = sizeOf(usage && measured ? measured->usage() : bytes);
    if (measured) unreadable(measured->unreadable());
  });
  group.addChild(size);
  group.addChild(set);
}

}  // namespace

std::string_view displayText(DeviceSupportKind kind) {
  switch (kind) {
    case DeviceSupportKind::iOS: return "iOS";
    case DeviceSupportKind::tvOS: return "tvOS";
    case DeviceSupportKind::watchOS: return "watchOS";
  }
  return "iOS";
}

FileURL DeveloperCleanScanProcedure::deviceSupportFolder(DeviceSupportKind kind) {
  return FileURL::fileURLWithPath(
      platform::Paths::inHome("Library/Developer/Xcode/" + std::string(displayText(kind)) + " DeviceSupport"), true);
}

FileURL DeveloperCleanScanProcedure::archivesFolder() {
  return FileURL::fileURLWithPath(platform::Paths::inHome("Library/Developer/Xcode/Archives"), true);
}

FileURL DeveloperCleanScanProcedure::simulatorDevicesFolder() {
  return FileURL::fileURLWithPath(platform::Paths::inHome("Library/Developer/CoreSimulator/Devices"), true);
}

std::optional<std::string> DeveloperCleanScanProcedure::archiveDisplayName(const FileURL& archive) {
  auto info = loadDictionary(archive.appendingPathComponent("Info.plist"));
  if (!info) return std::nullopt;
  const std::string* name = textIn(*info, "Name");
  auto properties = info->find("ApplicationProperties");
  const Value::Dictionary* application = properties == info->end() ? nullptr : properties->second.dictionary();
  if (!name || !application) return std::nullopt;
  const std::string* bundleVersion = textIn(*application, "CFBundleVersion");
  const std::string* shortVersion = textIn(*application, "CFBundleShortVersionString");
  if (!bundleVersion || !shortVersion) return std::nullopt;
  return *name + " " + *shortVersion + " (" + *bundleVersion + ")";
}

std::optional<std::string> DeveloperCleanScanProcedure::simulatorDisplayName(const FileURL& device) {
  auto plist = loadDictionary(device.appendingPathComponent("device.plist"));
  if (!plist) return std::nullopt;
  const std::string* name = textIn(*plist, "name");
  const std::string* runtime = textIn(*plist, "runtime");
  if (!name || !runtime) return std::nullopt;
  return simulatorDisplayName(*name, *runtime);
}

std::string DeveloperCleanScanProcedure::simulatorDisplayName(std::string_view name, std::string_view runtime) {
  const std::string_view last = split(runtime, '.').back();
  const auto parts = split(last, '-');
  std::string text(name);
  text += " \u00B7 ";
  text += parts.front();
  text += ' ';
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (i > 1) text += '.';
    text += parts[i];
  }
  return text;
}

DeveloperCleanScanProcedure::DeveloperCleanScanProcedure(bool measuresUsage) : _measuresUsage(measuresUsage) {
  setMaxConcurrentOperationCount(1);
  setQualityOfService(QualityOfService::userInitiated);
  const auto self = weakReference<DeveloperCleanScanProcedure>();

  std::vector<std::shared_ptr<Operation>> deviceSupport;
  for (auto kind : allDeviceSupportKinds) deviceSupport.push_back(makeDeviceSupportProcedure(kind));

  const FileURL archives = archivesFolder();
  auto archivesScan = std::make_shared<SimpleFileScanProcedure>(
      archives, std::vector<FileCollectorOptions>{FileCollectorOptions::xcodeArchives}, 2);
  std::weak_ptr<SimpleFileScanProcedure> weakArchives = archivesScan;
  auto archivesBlock = resultProcessingProcedure(archivesScan, [self, archives, weakArchives](const CollectedFiles& files) {
    auto strong = self.lock();
    if (auto scanned = weakArchives.lock(); strong && scanned) strong->addUnreadable(scanned->unreadable());
    auto found = files.find("xcodeArchives");
    if (!strong || found == files.end()) return;
    Items children;
    for (const auto& node : found->second) children.push_back(CleanScanItem::make(node, {}, archiveDisplayName(node->url())));
    strong->insertTopLevelItem(CleanScanItem::make(folderNode(archives), std::move(children), "Archives"));
  });

  const FileURL devices = simulatorDevicesFolder();
  auto simulatorsScan = std::make_shared<SimpleFileScanProcedure>(
      devices, std::vector<FileCollectorOptions>{FileCollectorOptions::directories}, 1);
  std::weak_ptr<SimpleFileScanProcedure> weakSimulators = simulatorsScan;
  auto simulatorsBlock = resultProcessingProcedure(simulatorsScan, [self, devices, weakSimulators](const CollectedFiles& files) {
    auto strong = self.lock();
    if (auto scanned = weakSimulators.lock(); strong && scanned) strong->addUnreadable(scanned->unreadable());
    auto found = files.find("directories");
    if (!strong || found == files.end()) return;
    Items children;
    for (const auto& node : found->second)
      children.push_back(CleanScanItem::make(node, {}, simulatorDisplayName(node->url())));
    strong->insertTopLevelItem(CleanScanItem::make(folderNode(devices), std::move(children), "Simulators"));
  });

  // The size phase is built on the main queue, once every container is known.
  auto finalBlock = std::make_shared<BlockProcedure>([self](BlockProcedure& block) {
    auto strongBlock = block.sharedAs<BlockProcedure>();
    DispatchQueue::main()->async([self, strongBlock] {
      if (auto strong = self.lock()) strong->addSizePhase();
      strongBlock->finish();
    });
  });
  for (const auto& procedure : deviceSupport) finalBlock->addDependency(procedure);
  finalBlock->addDependency(archivesBlock);
  finalBlock->addDependency(simulatorsScan);
  finalBlock->addDependency(simulatorsBlock);

  addChildren(deviceSupport);
  addChildren(std::vector<std::shared_ptr<Operation>>{archivesScan, archivesBlock, simulatorsScan, simulatorsBlock,
                                                      finalBlock});
}

std::shared_ptr<GroupProcedure> DeveloperCleanScanProcedure::makeDeviceSupportProcedure(DeviceSupportKind kind) {
  auto procedure = std::make_shared<GroupProcedure>();
  const FileURL folder = deviceSupportFolder(kind);
  std::error_code error;
  if (!std::filesystem::exists(folder.path(), error)) return procedure;
  auto scan = std::make_shared<SimpleFileScanProcedure>(
      folder, std::vector<FileCollectorOptions>{FileCollectorOptions::directories}, 1);
  auto block = resultProcessingProcedure(
      scan, [self = weakReference<DeveloperCleanScanProcedure>(), kind, folder,
             weakScan = std::weak_ptr(scan)](const CollectedFiles& files) {
        auto strong = self.lock();
        if (auto scanned = weakScan.lock(); strong && scanned) strong->addUnreadable(scanned->unreadable());
        auto found = files.find("directories");
        if (!strong || found == files.end()) return;
        const std::string text(displayText(kind));
        Items children;
        for (const auto& node : found->second) children.push_back(CleanScanItem::make(node, {}, text + " " + node->name()));
        strong->insertTopLevelItem(CleanScanItem::make(folderNode(folder), std::move(children), text + " Device Support"));
      });
  procedure->addChild(scan);
  procedure->addChild(block);
  return procedure;
}

void DeveloperCleanScanProcedure::insertTopLevelItem(std::shared_ptr<CleanScanItem> item) {
  std::lock_guard lock(_itemsMutex);
  topLevelItems.insert(std::move(item));
}

CleanScanItemSet DeveloperCleanScanProcedure::topLevelItemsNow() const {
  std::lock_guard lock(_itemsMutex);
  return topLevelItems;
}

std::map<DeviceSupportKind, std::vector<std::shared_ptr<CleanScanItem>>>
DeveloperCleanScanProcedure::deviceSupportItems() const {
  std::lock_guard lock(_itemsMutex);
  return _deviceSupportItems;
}

DeveloperCleanScanProcedure::Unreadable DeveloperCleanScanProcedure::unreadable() const {
  std::lock_guard lock(_itemsMutex);
  return _unreadable;
}

void DeveloperCleanScanProcedure::addUnreadable(const Unreadable& entries) {
  std::lock_guard lock(_itemsMutex);
  _unreadable.insert(_unreadable.end(), entries.begin(), entries.end());
}

void DeveloperCleanScanProcedure::addSizePhase() {
  auto sizeGroup = std::make_shared<GroupProcedure>();
  sizeGroup->setQualityOfService(QualityOfService::userInitiated);
  const UnreadableSink unreadable = [self = weakReference<DeveloperCleanScanProcedure>()](const Unreadable& entries) {
    if (auto strong = self.lock()) strong->addUnreadable(entries);
  };
  for (const auto& item : topLevelItemsNow()) {
    if (!item->file || item->file->type() != FileNode::NodeType::directory) continue;
    if (item->children.empty()) {
      addSizeMeasurement(*sizeGroup, item, _measuresUsage, unreadable);
      continue;
    }
    auto childGroup = std::make_shared<GroupProcedure>();
    for (const auto& child : item->children)
      if (child && child->file) addSizeMeasurement(*childGroup, child, _measuresUsage, unreadable);
    auto sum = std::make_shared<BlockProcedure>([item] {
      std::uint64_t total = 0;
      for (const auto& child : item->children)
        if (child) total += child->size;
      item->size = total;
    });
    sum->addDependency(childGroup);
    sizeGroup->addChild(childGroup);
    sizeGroup->addChild(sum);
  }
  auto end = std::make_shared<BlockProcedure>([self = weakReference<DeveloperCleanScanProcedure>()](BlockProcedure& block) {
    auto strongBlock = block.sharedAs<BlockProcedure>();
    DispatchQueue::main()->async([self, strongBlock] {
      if (auto strong = self.lock()) strong->setSuccess(strong->topLevelItemsNow());
      strongBlock->finish();
    });
  });
  end->addDependency(sizeGroup);
  addChild(sizeGroup);
  addChild(end);
}

}  // namespace vantelkit

#include "vantelkit/clean/SystemLogScanProcedure.h"

#include <fmt/format.h>

#include "clean/internal/PileScan.h"
#include "vantelkit/formats/JournaldConfiguration.h"
#include "vantelkit/formats/LogFileNames.h"
#include "vantelkit/platform/ByteCountFormatter.h"
#include "vantelkit/platform/DirectoryReader.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/FileSystemCapacity.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {

namespace {

using Items = std::vector<std::shared_ptr<CleanScanItem>>;

constexpr std::size_t kConfigurationLimit = 1024 * 1024;
constexpr std::string_view kConfigurationFolders[] = {"/etc/systemd", "/run/systemd", "/usr/local/lib/systemd",
                                                      "/usr/lib/systemd"};

class NameCollector final : public platform::DirectoryReader::Visitor {
 public:
  void visit(const platform::DirectoryReader::Entry& entry) override {
    if (entry.type == platform::FileObjectType::file || entry.type == platform::FileObjectType::symbolicLink)
      names.emplace_back(entry.name);
  }
  bool wantsFileStatus() const override { return false; }
  std::vector<std::string> names;
};

// path below folder ("apt/history.log.1.gz").
std::string relativePath(const std::string& folder, const std::string& path) {
  if (path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/')
    return path.substr(folder.size() + 1);
  return path;
}

std::string sizeText(std::uint64_t bytes) {
  if (bytes == 0) return "0 bytes";
  return platform::ByteCountFormatter::string(static_cast<std::int64_t>(bytes),
                                              platform::ByteCountFormatter::CountStyle::file);
}

Items rotatedLogs(const FileNode& root, const std::string& folder, const std::string& journal, bool usage) {
  Items items;
  std::vector<const FileNode*> stack{&root};
  while (!stack.empty()) {
    const FileNode* node = stack.back();
    stack.pop_back();
    for (const auto& child : node->children()) {
      if (child->type() == FileNode::NodeType::directory) {
        if (child->url().path() != journal) stack.push_back(child.get());
      } else if (child->type() == FileNode::NodeType::file &&
                 classifyLogFileName(child->name()) == LogFileKind::rotated) {
        items.push_back(internal::reasonedItem(child, relativePath(folder, child->url().path()), "rotated log", usage));
      }
    }
  }
  return items;
}

std::shared_ptr<CleanScanItem> archivedJournal(const FileNode& journal, bool usage) {
  Items archived;
  std::uint64_t archivedTotal = 0;
  std::uint64_t activeTotal = 0;
  const std::string folder = journal.url().path();
  for (const auto& machine : journal.children()) {
    if (machine->type() != FileNode::NodeType::directory) continue;
    for (const auto& file : machine->children()) {
      if (file->type() != FileNode::NodeType::file) continue;
      switch (classifyJournalFileName(file->name())) {
        case JournalFileKind::archived:
          archived.push_back(
              internal::reasonedItem(file, relativePath(folder, file->url().path()), "archived journal file", usage));
          archivedTotal += archived.back()->size;
          break;
        case JournalFileKind::active:
          activeTotal += internal::measure(*file, usage);
          break;
        case JournalFileKind::notJournal:
          break;
      }
    }
  }
  if (archived.empty()) return nullptr;
  auto container = CleanScanItem::make(nullptr, std::move(archived), "Archived journal");
  container->reason =
      SystemLogScanProcedure::archivedJournalReason(archivedTotal, activeTotal, SystemLogScanProcedure::journalCap());
  return container;
}

std::shared_ptr<CleanScanItem> topLevelEntries(const FileNode& root, const std::string& name, const std::string& reason,
                                               bool usage) {
  Items items;
  for (const auto& child : root.children())
    if (child->type() == FileNode::NodeType::file || child->type() == FileNode::NodeType::directory)
      items.push_back(internal::reasonedItem(child, std::nullopt, reason, usage));
  return items.empty() ? nullptr : CleanScanItem::make(nullptr, std::move(items), name);
}

}  // namespace

std::string SystemLogScanProcedure::logFolder() { return platform::Paths::system("/var/log"); }
std::string SystemLogScanProcedure::journalFolder() { return logFolder() + "/journal"; }
std::string SystemLogScanProcedure::crashFolder() { return platform::Paths::system("/var/crash"); }
std::string SystemLogScanProcedure::coreDumpFolder() { return platform::Paths::system("/var/lib/systemd/coredump"); }

std::optional<std::uint64_t> SystemLogScanProcedure::configuredJournalMaxUse() {
  std::optional<std::uint64_t> configured;
  const auto apply = [&](const std::string& path) {
    std::error_code error;
    if (auto text = platform::readSmallFile(path, kConfigurationLimit, true, error))
      configured = applyJournaldConfiguration(*text, configured);
    return !error;
  };
  for (auto folder : kConfigurationFolders)
    if (apply(platform::Paths::system(std::string(folder) + "/journald.conf"))) break;
  std::vector<std::pair<std::string, std::vector<std::string>>> dropIns;
  for (auto folder : kConfigurationFolders) {
    const std::string path = platform::Paths::system(std::string(folder) + "/journald.conf.d");
    NameCollector names;
    if (platform::DirectoryReader::shared()->list(path, false, names) == platform::DirectoryReader::Status::cannotOpen)
      continue;
    dropIns.emplace_back(path, std::move(names.names));
  }
  for (const auto& path : journaldDropInOrder(dropIns)) apply(path);
  return configured;
}

SystemLogScanProcedure::JournalCap SystemLogScanProcedure::journalCap() {
  if (auto configured = configuredJournalMaxUse()) return {configured, true};
  auto capacity = platform::FileSystemCapacity::shared().capacityOf(journalFolder());
  if (!capacity) return {std::nullopt, false};
  return {vantelkit::journalCap(std::nullopt, capacity->totalBytes), false};
}

std::string SystemLogScanProcedure::archivedJournalReason(std::uint64_t archived, std::uint64_t active,
                                                          const JournalCap& cap) {
  std::string text = fmt::format("archived journal: {} archived, {} active, ", sizeText(archived), sizeText(active));
  if (!cap.bytes) return text + "cap unknown";
  return text + fmt::format("cap {} ({})", sizeText(*cap.bytes), cap.configured ? "SystemMaxUse" : "default");
}

SystemLogScanProcedure::SystemLogScanProcedure(bool measuresUsage) : _measuresUsage(measuresUsage) {
  setMaxConcurrentOperationCount(1);
  setQualityOfService(QualityOfService::userInitiated);
  const auto self = weakReference<SystemLogScanProcedure>();
  const std::string logs = logFolder();
  const std::string crashes = crashFolder();
  const std::string cores = coreDumpFolder();
  const auto walkOf = [](const std::string& folder) {
    return internal::isFolder(folder) ? internal::makeWalk(folder, std::nullopt) : nullptr;
  };
  auto logWalk = walkOf(logs);
  auto crashWalk = walkOf(crashes);
  auto coreWalk = walkOf(cores);
  std::vector<std::shared_ptr<DiskMapProcedure>> walks;
  for (const auto& walk : {logWalk, crashWalk, coreWalk})
    if (walk) walks.push_back(walk);

  auto build = [self, logWalk, crashWalk, coreWalk, logs,
                usage = measuresUsage](std::vector<internal::PendingMeasurement>&) {
    CleanScanItemSet items;
    Unreadable unreadable;
    const auto resultOf = [&](const std::shared_ptr<DiskMapProcedure>& walk) {
      auto result = internal::walkResult(walk);
      if (result && result->root())
        unreadable.insert(unreadable.end(), result->unreadableEntries().begin(), result->unreadableEntries().end());
      return result && result->root() ? result : nullptr;
    };
    if (auto result = resultOf(logWalk)) {
      const std::string journal = logs + "/journal";
      if (auto rotated = rotatedLogs(*result->root(), logs, journal, usage); !rotated.empty())
        items.insert(CleanScanItem::make(nullptr, std::move(rotated), "Rotated logs"));
      if (auto node = internal::childNamed(*result->root(), "journal");
          node && node->type() == FileNode::NodeType::directory)
        if (auto archived = archivedJournal(*node, usage)) items.insert(std::move(archived));
    }
    // A pile with nothing in it is no item.
    if (auto result = resultOf(crashWalk))
      if (auto crashes = topLevelEntries(*result->root(), "Crash reports", "crash report", usage))
        items.insert(std::move(crashes));
    if (auto result = resultOf(coreWalk))
      if (auto cores = topLevelEntries(*result->root(), "Core dumps", "core dump", usage)) items.insert(std::move(cores));
    if (auto strong = self.lock()) strong->addUnreadable(unreadable);
    return items;
  };
  auto finish = internal::makeBuildAndFinish([self]() -> std::shared_ptr<GroupProcedure> { return self.lock(); }, walks,
                                             build, measuresUsage,
                                             [self](const Unreadable& entries) {
                                               if (auto strong = self.lock()) strong->addUnreadable(entries);
                                             },
                                             [self](CleanScanItemSet items) {
                                               if (auto strong = self.lock()) strong->setSuccess(std::move(items));
                                             });
  for (const auto& walk : walks) addChild(walk);
  addChild(finish);
}

SystemLogScanProcedure::Unreadable SystemLogScanProcedure::unreadable() const {
  std::lock_guard lock(_mutex);
  return _unreadable;
}

void SystemLogScanProcedure::addUnreadable(const Unreadable& entries) {
  std::lock_guard lock(_mutex);
  _unreadable.insert(_unreadable.end(), entries.begin(), entries.end());
}

}  // namespace vantelkit

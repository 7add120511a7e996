#include "vantelkit/clean/CleanScanner.h"

#include <algorithm>
#include <optional>
#include <unordered_set>
#include <string_view>
#include <type_traits>
#include <utility>

#include "clean/internal/DiskMapMetadataIndex.h"
#include "clean/internal/ResourceImage.h"
#include "vantelkit/applications/ApplicationBundleScanProcedure.h"
#include "vantelkit/clean/CleanMatchingScanProcedure.h"
#include "vantelkit/clean/DeveloperCleanScanProcedure.h"
#include "vantelkit/scanning/ScanPhrases.h"
#include "vantelkit/scanning/SimpleFileScanProcedure.h"
#include "vantelkit/clean/SpotlightQueryProcedure.h"
#include "vantelkit/clean/SystemLogScanProcedure.h"
#include "vantelkit/clean/ThumbnailScanProcedure.h"
#include "vantelkit/clean/TrashScanProcedure.h"
#include "vantelkit/diskmap/SizeProcedure.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/LocalizedStrings.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/mail/MailAttachmentsProcedure.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/Workspace.h"

namespace vantelkit {

namespace {

using Items = std::vector<std::shared_ptr<CleanScanItem>>;
using Nodes = std::vector<std::shared_ptr<FileNode>>;

std::mutex sharedMutex;
std::shared_ptr<CleanScanner> sharedScanner;  // guarded by sharedMutex

FileURL folderURL(const std::string& path) { return FileURL::fileURLWithPath(path, true); }

CleanScanItemSet itemSet(const Items& items) { return CleanScanItemSet(items.begin(), items.end()); }

CleanScanItemSet fileItems(const Nodes& nodes) {
  CleanScanItemSet items;
  for (const auto& node : nodes)
    if (node) items.insert(CleanScanItem::make(node));
  return items;
}

const Nodes& filesUnder(const CollectedFiles& collected, const std::string& key) {
  static const Nodes none;
  auto found = collected.find(key);
  return found == collected.end() ? none : found->second;
}

bool nameEndsWith(const CleanScanItem& item, std::string_view ending) {
  auto name = item.name();
  return name && name->size() >= ending.size() && name->compare(name->size() - ending.size(), ending.size(), ending) == 0;
}

void eraseAll(CleanScanItemSet& from, const CleanScanItemSet& items) {
  for (const auto& item : items) from.erase(item);
}

// The paths a group's items stand for: whole folders, and single files (a container's
// children included).
struct ClaimedPaths {
  std::unordered_set<std::string> folders;
  std::unordered_set<std::string> files;

  void add(const CleanScanItem& item) {
    if (item.file) {
      (item.file->type() == FileNode::NodeType::directory ? folders : files).insert(item.file->url().path());
    }
    for (const auto& child : item.children)
      if (child) add(*child);
  }
  // The path itself is claimed, or lies below a claimed folder.
  bool claims(const std::string& path) const {
    if (files.contains(path) || folders.contains(path)) return true;
    for (auto slash = path.rfind('/'); slash != std::string::npos && slash > 0; slash = path.rfind('/', slash - 1))
      if (folders.contains(path.substr(0, slash))) return true;
    return false;
  }
};

using UnreadableSink = std::function<void(const CleanScanner::Unreadable&)>;

// A block that runs after producer. When the producer ended with a success output,
// onSuccess receives it, and unreadable what the producer could not read; afterwards runs
// in every case, so that the scan reports its progress and goes on even when a producer
// failed or was cancelled.
template <class P, class OnSuccess>
std::shared_ptr<BlockProcedure> resultBlock(const std::shared_ptr<P>& producer, OnSuccess onSuccess,
                                            std::function<void()> afterwards = {}, UnreadableSink unreadable = {}) {
  std::weak_ptr<P> weakProducer = producer;
  auto block = std::make_shared<BlockProcedure>([weakProducer, onSuccess = std::move(onSuccess),
                                                 afterwards = std::move(afterwards),
                                                 unreadable = std::move(unreadable)]() mutable {
    auto strong = weakProducer.lock();
    auto value = strong ? strong->OutputProcedure<typename P::OutputType>::successValue() : std::nullopt;
    if (value) {
      onSuccess(*value);
      if constexpr (requires(P& p) { p.unreadable(); }) {
        if (unreadable) unreadable(strong->unreadable());
      }
    }
    if (afterwards) afterwards();
  });
  block->addDependency(producer);
  return block;
}

// A container per account with attachments, and one for the mail downloads, each holding
// its files with copies grouped.
CleanScanItemSet mailItems(const MailAttachments& mail) {
  CleanScanItemSet items;
  for (const auto& account : mail.attachments) {
    if (account.files.empty()) continue;
    items.insert(CleanScanItem::make(nullptr, CleanScanner::groupCopies(account.files), account.name,
                                     internal::resourceImage("email-accounts-icon")));
  }
  if (!mail.downloads.empty()) {
    items.insert(CleanScanItem::make(nullptr, CleanScanner::groupCopies(mail.downloads),
                                     localizedString("clean_mail_downloads"),
                                     internal::resourceImage("small-downloads-icon")));
  }
  return items;
}

// See CleanScanner::measureFilesByUsage().
void measureUsage(CleanScanItem& item) {
  for (const auto& child : item.children)
    if (child) measureUsage(*child);
  if (item.file && item.file->type() != FileNode::NodeType::directory) {
    item.size = static_cast<std::uint64_t>(std::max<std::int64_t>(item.file->usage(), 0));
  } else if (!item.file || !item.children.empty()) {
    std::uint64_t total = 0;
    for (const auto& child : item.children)
      if (child) total += child->size;
    item.size = total;
  }
}

std::string progressMessage(CleanScanGroup group) {
  return randomScanPhrase() + " " + localizedName(group) + "...";
}

}  // namespace

CleanScanner::CleanScanner(Key) {
  _queue.setMaxConcurrentOperationCount(1);
  _queue.setQualityOfService(QualityOfService::userInitiated);
}

std::shared_ptr<CleanScanner> CleanScanner::make() { return std::make_shared<CleanScanner>(Key()); }

std::shared_ptr<CleanScanner> CleanScanner::shared() {
  std::lock_guard lock(sharedMutex);
  if (!sharedScanner) sharedScanner = make();
  return sharedScanner;
}

void CleanScanner::setShared(std::shared_ptr<CleanScanner> scanner) {
  std::lock_guard lock(sharedMutex);
  sharedScanner = std::move(scanner);
}

CleanScanner::Groups CleanScanner::groups() const {
  std::lock_guard lock(_mutex);
  return _groups;
}

void CleanScanner::setGroups(Groups groups) {
  std::lock_guard lock(_mutex);
  _groups = std::move(groups);
}

void CleanScanner::cleanup() { setGroups({}); }

void CleanScanner::cancel() {
  std::vector<std::weak_ptr<Procedure>> producers;
  {
    std::lock_guard lock(_mutex);
    if (!_isRunning.load() || _cancelled) return;
    _cancelled = true;
    producers.swap(_producers);
  }
  // Outside the lock: a cancelled step's blocks run at once and write the groups.
  for (const auto& weak : producers)
    if (auto producer = weak.lock()) producer->cancel();
}

bool CleanScanner::wasCancelled() const {
  std::lock_guard lock(_mutex);
  return _cancelled;
}

bool CleanScanner::track(const std::vector<std::shared_ptr<Procedure>>& producers) {
  {
    std::lock_guard lock(_mutex);
    if (!_cancelled) {
      _producers.insert(_producers.end(), producers.begin(), producers.end());
      return false;
    }
  }
  for (const auto& producer : producers) producer->cancel();
  return true;
}

CleanScanner::Unreadable CleanScanner::unreadable() const {
  std::lock_guard lock(_mutex);
  return _unreadable;
}

void CleanScanner::addUnreadable(const Unreadable& entries) {
  std::lock_guard lock(_mutex);
  for (const auto& entry : entries) {
    // A fixed folder that is a file or a pipe here holds nothing to find; that is no fault.
    if (platform::errorCodeFromNumber(entry.error) == std::errc::not_a_directory) continue;
    auto at = std::lower_bound(_unreadable.begin(), _unreadable.end(), entry,
                               [](const auto& a, const auto& b) { return a.path < b.path; });
    // The searches of the home share one walk, so they meet the same folders.
    if (at != _unreadable.end() && at->path == entry.path) continue;
    _unreadable.insert(at, entry);
  }
}

std::function<void(const CleanScanner::Unreadable&)> CleanScanner::unreadableSink() {
  return [weakSelf = weak_from_this()](const Unreadable& entries) {
    if (auto self = weakSelf.lock()) self->addUnreadable(entries);
  };
}

void CleanScanner::updateProgress(CleanScanGroup group, double progress) {
  // After a cancellation the steps that are skipped report nothing.
  if (wasCancelled()) return;
  _listeners.notify([group, progress](CleanScannerListener& listener) {
    listener.progressUpdate(progress, progressMessage(group));
  });
}

void CleanScanner::replaceGroup(CleanScanGroup group, CleanScanItemSet items) {
  std::lock_guard lock(_mutex);
  _groups[group] = std::move(items);
}

void CleanScanner::extendGroup(CleanScanGroup group, const CleanScanItemSet& items) {
  std::lock_guard lock(_mutex);
  _groups[group].insert(items.begin(), items.end());
}

void CleanScanner::setSettings(Settings settings) {
  std::lock_guard lock(_mutex);
  _settings = std::move(settings);
}

CleanScanner::Settings CleanScanner::settings() const {
  std::lock_guard lock(_mutex);
  return _settings;
}

void CleanScanner::start() {
  bool running = false;
  auto layout = platform::Paths::Layout::document;
  {
    std::lock_guard lock(_mutex);
    running = _isRunning.exchange(true);
    if (!running) {
      _cancelled = false;
      _producers.clear();
      _unreadable.clear();
      _layoutInUse = layout = _settings.layout;
    }
  }
  if (running) {
    LogWarning("Clean Scanner is already running");
    return;
  }
  _listeners.notify([](CleanScannerListener& listener) { listener.scanDidStart(); });
  if (layout == platform::Paths::Layout::xdg) {
    DispatchQueue::main()->async([weakSelf = weak_from_this()] {
      if (auto self = weakSelf.lock()) self->scanXdgGroups();
    });
    return;
  }

  auto applications = ApplicationBundleScanProcedure::make();
  applications->setName("applications scan");
  auto block = resultBlock(
      applications,
      [weakSelf = weak_from_this()](const std::vector<std::shared_ptr<ApplicationBundle>>& bundles) {
        auto self = weakSelf.lock();
        if (!self) return;
        // The scan lists in parallel; by path, the same folders always give the same set
        // (the first bundle of an identifier wins) and the same matching order.
        auto sorted = bundles;
        std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a->url().path() < b->url().path(); });
        std::lock_guard lock(self->_mutex);
        self->_allApplications = ApplicationBundleSet(sorted.begin(), sorted.end());
      },
      [weakSelf = weak_from_this()] {
        // Also after a failed application scan: the groups are filled without matching.
        DispatchQueue::main()->async([weakSelf] {
          if (auto self = weakSelf.lock()) self->scanGroups();
        });
      });
  block->setName("applications result");
  track({applications});
  _listeners.addToQueue(_queue, {applications, block});
}

void CleanScanner::scanGroups() {
  using Group = CleanScanGroup;
  if (wasCancelled()) {
    calculateSizes();
    return;
  }
  updateProgress(Group::userLogs, 0.05);
  std::vector<std::shared_ptr<ApplicationBundle>> applications;
  {
    std::lock_guard lock(_mutex);
    applications.assign(_allApplications.begin(), _allApplications.end());
  }
  std::sort(applications.begin(), applications.end(),
            [](const auto& a, const auto& b) { return a->url().path() < b->url().path(); });
  const std::weak_ptr<CleanScanner> weakSelf = weak_from_this();
  const UnreadableSink unreadable = unreadableSink();
  std::vector<std::shared_ptr<Procedure>> chain;
  std::vector<std::shared_ptr<Procedure>> producers;
  std::shared_ptr<Procedure> previous;
  auto add = [&](std::shared_ptr<Procedure> procedure, std::string name, bool followsPrevious) {
    procedure->setName(std::move(name));
    if (followsPrevious && previous) procedure->addDependency(previous);
    chain.push_back(procedure);
  };
  // A producer is what cancel() stops; the blocks after it still run, so that the chain
  // reaches its end.
  auto addProducer = [&](std::shared_ptr<Procedure> procedure, std::string name) {
    producers.push_back(procedure);
    add(std::move(procedure), std::move(name), true);
  };

  // Steps 1 to 3: the entries of the log and cache folders, matched to the applications.
  auto matchingStep = [&](Group group, const std::string& folder, Group next, double progress) {
    auto scan = std::make_shared<CleanMatchingScanProcedure>(
        folderURL(folder), applications,
        group == Group::userCache ? CleanMatchingScanProcedure::Contents::caches : CleanMatchingScanProcedure::Contents::logs);
    auto block = resultBlock(
        scan,
        [weakSelf, group](const Items& items) {
          if (auto self = weakSelf.lock()) self->replaceGroup(group, itemSet(items));
        },
        [weakSelf, next, progress] {
          if (auto self = weakSelf.lock()) self->updateProgress(next, progress);
        },
        unreadable);
    addProducer(scan, std::string(rawValue(group)) + " scan");
    add(block, std::string(rawValue(group)) + " result", false);
    previous = block;
    return block;
  };
  auto userLogsBlock = matchingStep(Group::userLogs, platform::Paths::inHome("Library/Logs"), Group::userCache, 0.15);
  auto userCacheBlock =
      matchingStep(Group::userCache, platform::Paths::inHome("Library/Caches"), Group::systemLogs, 0.25);
  auto systemLogsBlock =
      matchingStep(Group::systemLogs, platform::Paths::system("/Library/Logs"), Group::downloads, 0.35);

  // Step 4: Downloads, one level.
  auto downloads = std::make_shared<SimpleFileScanProcedure>(
      folderURL(platform::Paths::inHome("Downloads")),
      std::vector<FileCollectorOptions>{FileCollectorOptions::files, FileCollectorOptions::diskImages,
                                        FileCollectorOptions::packages},
      1);
  auto downloadsBlock = resultBlock(
      downloads,
      [weakSelf](const CollectedFiles& collected) {
        auto self = weakSelf.lock();
        if (!self) return;
        self->replaceGroup(Group::downloads, fileItems(filesUnder(collected, "files")));
        self->replaceGroup(Group::diskImages, fileItems(filesUnder(collected, "diskImages")));
        self->replaceGroup(Group::packages, fileItems(filesUnder(collected, "packages")));
      },
      [weakSelf] {
        if (auto self = weakSelf.lock()) self->updateProgress(Group::diskImages, 0.45);
      },
      unreadable);
  addProducer(downloads, "downloads scan");
  add(downloadsBlock, "downloads result", false);
  previous = downloadsBlock;

  // Step 5: the Desktop, two levels.
  auto desktop = std::make_shared<SimpleFileScanProcedure>(
      folderURL(platform::Paths::inHome("Desktop")),
      std::vector<FileCollectorOptions>{FileCollectorOptions::diskImages, FileCollectorOptions::packages}, 2);
  auto desktopBlock = resultBlock(
      desktop,
      [weakSelf](const CollectedFiles& collected) {
        auto self = weakSelf.lock();
        if (!self) return;
        self->extendGroup(Group::diskImages, fileItems(filesUnder(collected, "diskImages")));
        self->extendGroup(Group::packages, fileItems(filesUnder(collected, "packages")));
      },
      {}, unreadable);
  addProducer(desktop, "desktop scan");
  add(desktopBlock, "desktop result", false);
  previous = desktopBlock;

  // Steps 6 and 7: installer packages and disk images anywhere in the home.
  auto queryStep = [&](const char* predicate, Group group, const std::string& name) {
    auto query = std::make_shared<SpotlightQueryProcedure>(MetadataPredicate::fromFormat(predicate));
    auto block = resultBlock(
        query,
        [weakSelf, group](const Nodes& nodes) {
          if (auto self = weakSelf.lock()) self->extendGroup(group, fileItems(nodes));
        },
        {}, unreadable);
    addProducer(query, name + " query");
    add(block, name + " result", false);
    previous = block;
    return block;
  };
  queryStep("(_kMDItemFileName LIKE[cd] '*.pkg')", Group::packages, "packages");
  queryStep("(_kMDItemFileName LIKE[cd] '*.dmg')", Group::diskImages, "diskImages");

  // Step 8: what is an installer or a disk image is not also a download.
  auto installersBlock = std::make_shared<BlockProcedure>([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->removeInstallersFromDownloads();
    self->updateProgress(Group::largeFiles, 0.65);
  });
  add(installersBlock, "downloads sorting", true);
  previous = installersBlock;

  // Step 9: files over 100,000,000 bytes anywhere in the home.
  auto largeFiles = std::make_shared<SpotlightQueryProcedure>(MetadataPredicate::fromFormat("(kMDItemFSSize > 100000000)"));
  auto largeFilesQueryBlock = resultBlock(
      largeFiles,
      [weakSelf](const Nodes& nodes) {
        if (auto self = weakSelf.lock()) self->replaceGroup(Group::largeFiles, fileItems(nodes));
      },
      {}, unreadable);
  addProducer(largeFiles, "largeFiles query");
  add(largeFilesQueryBlock, "largeFiles result", false);
  previous = largeFilesQueryBlock;

  // Step 10.
  auto largeFilesBlock = std::make_shared<BlockProcedure>([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->sortLargeFiles();
    self->updateProgress(Group::developer, 0.8);
  });
  add(largeFilesBlock, "largeFiles sorting", true);
  previous = largeFilesBlock;

  // Step 11: device support folders, archives and simulators, sized by the scan itself.
  auto developer = std::make_shared<DeveloperCleanScanProcedure>(measuresUsage());
  auto developerBlock = resultBlock(
      developer,
      [weakSelf](const CleanScanItemSet& items) {
        if (auto self = weakSelf.lock()) self->replaceGroup(Group::developer, items);
      },
      [weakSelf] {
        if (auto self = weakSelf.lock()) self->updateProgress(Group::mailAttachments, 0.8);
      },
      unreadable);
  addProducer(developer, "developer scan");
  add(developerBlock, "developer result", false);
  previous = developerBlock;

  // Step 12: the attachments of each mail account and the mail downloads.
  auto mail = std::make_shared<MailAttachmentsProcedure>();
  auto mailBlock = resultBlock(
      mail,
      [weakSelf](const MailAttachments& found) {
        if (auto self = weakSelf.lock()) self->replaceGroup(Group::mailAttachments, mailItems(found));
      },
      [weakSelf] {
        if (auto self = weakSelf.lock(); self && !self->wasCancelled()) {
          auto message = localizedString("clean_calculating_size");
          self->_listeners.notify([message](CleanScannerListener& listener) { listener.progressUpdate(1.0, message); });
        }
      },
      unreadable);
  addProducer(mail, "mailAttachments scan");
  add(mailBlock, "mailAttachments result", false);
  previous = mailBlock;

  // Step 13: each file in one group, then the size phase, once every step has ended.
  auto finalBlock = std::make_shared<BlockProcedure>([weakSelf] {
    if (auto self = weakSelf.lock()) self->claimEachFileOnce();
    DispatchQueue::main()->async([weakSelf] {
      if (auto self = weakSelf.lock()) self->calculateSizes();
    });
  });
  finalBlock->addDependencies(std::vector<std::shared_ptr<Procedure>>{
      userLogsBlock, userCacheBlock, systemLogsBlock, installersBlock, desktopBlock, largeFilesBlock, developerBlock,
      mail, mailBlock});
  add(finalBlock, "final", true);
  track(producers);
  _listeners.addToQueue(_queue, chain);
}

void CleanScanner::scanXdgGroups() {
  using Group = CleanScanGroup;
  if (wasCancelled()) {
    calculateSizes();
    return;
  }
  updateProgress(Group::downloads, 0.05);
  const Settings settings = this->settings();
  const std::weak_ptr<CleanScanner> weakSelf = weak_from_this();
  const UnreadableSink unreadable = unreadableSink();
  std::vector<std::shared_ptr<Procedure>> chain;
  std::vector<std::shared_ptr<Procedure>> producers;
  std::shared_ptr<Procedure> previous;
  auto add = [&](std::shared_ptr<Procedure> procedure, std::string name, bool followsPrevious) {
    procedure->setName(std::move(name));
    if (followsPrevious && previous) procedure->addDependency(previous);
    chain.push_back(procedure);
    previous = chain.back();
  };

  // One group runs the steps at once where they do not depend on each other: the walk of
  // the home, then the home-wide queries answered from it; beside them the piles with
  // readers of their own (whose results extend the home's, so they are added after it).
  auto steps = std::make_shared<GroupProcedure>();
  steps->setQualityOfService(QualityOfService::userInitiated);
  auto home = std::make_shared<XdgHomeScanProcedure>(XdgHomeScanProcedure::Settings{
      .applications = settings.applications,
      .buildFolderIdleDays = settings.buildFolderIdleDays,
      .measuresUsage = measuresUsage(),
  });
  home->setName("home scan");
  auto homeBlock = resultBlock(
      home,
      [weakSelf](const XdgHomeScan& found) {
        auto self = weakSelf.lock();
        if (!self) return;
        self->replaceGroup(Group::downloads, found.downloads);
        self->replaceGroup(Group::packages, found.packages);
        self->replaceGroup(Group::diskImages, found.diskImages);
        self->replaceGroup(Group::userCache, found.userCache);
        self->replaceGroup(Group::userLogs, found.userLogs);
        self->replaceGroup(Group::developer, found.developer);
        self->replaceGroup(Group::mailAttachments, found.mailAttachments);
        self->replaceGroup(Group::systemLogs, {});
        self->replaceGroup(Group::largeFiles, {});
      },
      [weakSelf] {
        if (auto self = weakSelf.lock()) self->updateProgress(Group::packages, 0.5);
      },
      unreadable);
  homeBlock->setName("home result");
  producers.push_back(home);
  steps->addChild(home);
  steps->addChild(homeBlock);
  // A step of the group: the producer, and its block after the home's block.
  auto addStep = [&](std::shared_ptr<Procedure> producer, std::shared_ptr<Procedure> block, const std::string& name) {
    producer->setName(name + " scan");
    block->setName(name + " result");
    block->addDependency(homeBlock);
    producers.push_back(producer);
    steps->addChild(producer);
    steps->addChild(block);
  };

  // Installer packages, disk images and large files anywhere in the home, from the walk.
  auto queryStep = [&](const char* predicate, Group group, const std::string& name,
                       std::function<std::optional<std::string>(std::string_view)> reason, bool replaces) {
    auto query = std::make_shared<SpotlightQueryProcedure>(MetadataPredicate::fromFormat(predicate), home->mapIndex());
    query->addDependency(homeBlock);
    auto block = resultBlock(
        query,
        [weakSelf, group, reason, replaces](const Nodes& nodes) {
          auto self = weakSelf.lock();
          if (!self) return;
          CleanScanItemSet items;
          for (const auto& node : nodes) {
            if (!node) continue;
            auto item = CleanScanItem::make(node);
            item->reason = reason(node->url().lastPathComponent());
            items.insert(item);
          }
          if (replaces) {
            self->replaceGroup(group, std::move(items));
          } else {
            self->extendGroup(group, items);
          }
        },
        {}, unreadable);
    addStep(query, block, name);
  };
  queryStep("(_kMDItemFileName LIKE[c] '*.deb') || (_kMDItemFileName LIKE[c] '*.rpm') || "
            "(_kMDItemFileName LIKE[c] '*.appimage') || (_kMDItemFileName LIKE[c] '*.flatpakref') || "
            "(_kMDItemFileName LIKE[c] '*.snap')",
            Group::packages, "packages", &XdgHomeScanProcedure::installerReason, false);
  queryStep("(_kMDItemFileName LIKE[c] '*.iso') || (_kMDItemFileName LIKE[c] '*.img') || "
            "(_kMDItemFileName LIKE[c] '*.qcow2') || (_kMDItemFileName LIKE[c] '*.vdi') || "
            "(_kMDItemFileName LIKE[c] '*.vmdk') || (_kMDItemFileName LIKE[c] '*.dmg')",
            Group::diskImages, "diskImages", &XdgHomeScanProcedure::diskImageReason, false);
  queryStep("(kMDItemFSSize > 100000000)", Group::largeFiles, "largeFiles",
            [](std::string_view) -> std::optional<std::string> { return "larger than 100 MB"; }, true);

  // The piles with readers of their own: the trash (a container per trash folder, after the
  // download folder's items), the thumbnails (one container among the user caches) and the
  // system logs.
  auto pileStep = [&](auto procedure, Group group, bool replaces, const std::string& name) {
    auto block = resultBlock(
        procedure,
        [weakSelf, group, replaces](const CleanScanItemSet& items) {
          auto self = weakSelf.lock();
          if (!self) return;
          if (replaces) {
            self->replaceGroup(group, items);
          } else {
            self->extendGroup(group, items);
          }
        },
        {}, unreadable);
    addStep(procedure, block, name);
  };
  pileStep(std::make_shared<TrashScanProcedure>(measuresUsage()), Group::downloads, false, "trash");
  pileStep(std::make_shared<ThumbnailScanProcedure>(measuresUsage()), Group::userCache, false, "thumbnails");
  pileStep(std::make_shared<SystemLogScanProcedure>(measuresUsage()), Group::systemLogs, true, "systemLogs");
  add(steps, "xdg steps", true);

  // What is an installer or a disk image is not also a download; large files give way alike.
  auto sortingBlock = std::make_shared<BlockProcedure>([weakSelf] {
    if (auto self = weakSelf.lock()) {
      self->removeInstallersFromDownloads();
      self->sortLargeFiles();
      self->updateProgress(Group::largeFiles, 0.8);
    }
  });
  add(sortingBlock, "sorting", true);

  // Each file in one group, then the end; the walk is let go.
  auto finalBlock = std::make_shared<BlockProcedure>([weakSelf, index = home->mapIndex()] {
    if (auto map = std::dynamic_pointer_cast<internal::DiskMapMetadataIndex>(index)) map->releaseMap();
    if (auto self = weakSelf.lock()) {
      self->claimEachFileOnce();
      if (!self->wasCancelled()) {
        auto message = localizedString("clean_calculating_size");
        self->_listeners.notify([message](CleanScannerListener& listener) { listener.progressUpdate(1.0, message); });
      }
    }
    DispatchQueue::main()->async([weakSelf] {
      if (auto self = weakSelf.lock()) self->calculateSizes();
    });
  });
  add(finalBlock, "final", true);
  track(producers);
  _listeners.addToQueue(_queue, chain);
}

void CleanScanner::removeInstallersFromDownloads() {
  std::lock_guard lock(_mutex);
  auto& downloads = _groups[CleanScanGroup::downloads];
  if (auto found = _groups.find(CleanScanGroup::diskImages); found != _groups.end()) eraseAll(downloads, found->second);
  if (auto found = _groups.find(CleanScanGroup::packages); found != _groups.end()) eraseAll(downloads, found->second);
}

void CleanScanner::sortLargeFiles() {
  std::lock_guard lock(_mutex);
  auto& largeFiles = _groups[CleanScanGroup::largeFiles];
  if (auto found = _groups.find(CleanScanGroup::diskImages); found != _groups.end()) eraseAll(largeFiles, found->second);
  if (auto found = _groups.find(CleanScanGroup::packages); found != _groups.end()) eraseAll(largeFiles, found->second);
  std::erase_if(largeFiles, [](const auto& item) { return nameEndsWith(*item, ".app"); });
  for (auto [ending, group] : {std::pair{".pkg", CleanScanGroup::packages}, std::pair{".dmg", CleanScanGroup::diskImages}}) {
    auto& target = _groups[group];
    for (auto it = largeFiles.begin(); it != largeFiles.end();) {
      if (nameEndsWith(**it, ending)) {
        target.insert(*it);
        it = largeFiles.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void CleanScanner::claimEachFileOnce() {
  using Group = CleanScanGroup;
  std::lock_guard lock(_mutex);
  // What the folder scans and the mail found, which the searches of the whole home give way to.
  ClaimedPaths claimed;
  for (auto group : {Group::downloads, Group::userCache, Group::systemLogs, Group::userLogs, Group::developer,
                     Group::mailAttachments}) {
    if (auto found = _groups.find(group); found != _groups.end())
      for (const auto& item : found->second)
        if (item) claimed.add(*item);
  }
  auto giveWay = [&claimed](CleanScanItemSet& items) {
    std::erase_if(items, [&claimed](const auto& item) { return item && item->file && claimed.claims(item->file->url().path()); });
  };
  for (auto group : {Group::diskImages, Group::packages, Group::largeFiles})
    if (auto found = _groups.find(group); found != _groups.end()) giveWay(found->second);
}

void CleanScanner::measureFilesByUsage() {
  std::lock_guard lock(_mutex);
  for (auto& [group, items] : _groups)
    for (const auto& item : items)
      if (item) measureUsage(*item);
}

std::vector<std::shared_ptr<CleanScanItem>> CleanScanner::groupCopies(const std::vector<std::shared_ptr<FileNode>>& files) {
  std::vector<std::pair<std::string, Nodes>> byName;
  std::unordered_map<std::string, std::size_t> index;
  for (const auto& node : files) {
    if (!node) continue;
    auto [found, inserted] = index.try_emplace(node->url().lastPathComponent(), byName.size());
    if (inserted) byName.push_back({node->url().lastPathComponent(), {}});
    byName[found->second].second.push_back(node);
  }
  Items items;
  for (const auto& [name, nodes] : byName) {
    if (nodes.size() == 1) {
      items.push_back(CleanScanItem::make(nodes.front()));
      continue;
    }
    Items copies;
    for (const auto& node : nodes) copies.push_back(CleanScanItem::make(node));
    items.push_back(CleanScanItem::make(
        nullptr, std::move(copies),
        localizedFormat("clean_group_copies", {name, static_cast<std::int64_t>(nodes.size())}),
        platform::Workspace::shared().iconForFile(nodes.front()->url().path())));
  }
  return items;
}

void CleanScanner::calculateSizes() {
  const std::weak_ptr<CleanScanner> weakSelf = weak_from_this();
  const UnreadableSink unreadable = unreadableSink();
  auto sizeGroup = [&](CleanScanGroup group) {
    auto procedure = std::make_shared<GroupProcedure>();
    procedure->setQualityOfService(QualityOfService::userInitiated);
    procedure->setName("size " + std::string(rawValue(group)));
    Items folders;
    {
      std::lock_guard lock(_mutex);
      // The xdg layout's items were sized by its walk.
      auto found = _layoutInUse == platform::Paths::Layout::xdg ? _groups.end() : _groups.find(group);
      if (found != _groups.end()) {
        for (const auto& item : found->second)
          if (item && item->file && item->file->type() == FileNode::NodeType::directory) folders.push_back(item);
      }
    }
    for (const auto& item : folders) {
      auto size = SizeProcedure::make(item->file->url());
      auto block = resultBlock(
          size,
          [item, weakSize = std::weak_ptr<SizeProcedure>(size), usage = measuresUsage()](std::int64_t bytes) {
            auto measured = weakSize.lock();
            if (usage && measured) bytes = measured->usage();
            item->size = static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0));
          },
          {}, unreadable);
      procedure->addChild(size);
      procedure->addChild(block);
    }
    return procedure;
  };
  auto userLogs = sizeGroup(CleanScanGroup::userLogs);
  auto systemLogs = sizeGroup(CleanScanGroup::systemLogs);
  systemLogs->addDependency(userLogs);
  auto userCache = sizeGroup(CleanScanGroup::userCache);
  userCache->addDependency(systemLogs);
  auto end = std::make_shared<BlockProcedure>([weakSelf](BlockProcedure& block) {
    DispatchQueue::main()->async([weakSelf, &block, keep = block.shared_from_this()] {
      if (auto self = weakSelf.lock()) {
        if (self->measuresUsage()) self->measureFilesByUsage();
        {
          std::lock_guard lock(self->_mutex);
          self->_isRunning.store(false);
        }
        for (const auto& listener : self->_listeners.listeners()) listener->scanDidFinish();
      }
      block.finish();
    });
  });
  end->setName("end");
  end->addDependency(userCache);
  // The end block is no producer: a cancelled scan still ends through it.
  track({userLogs, systemLogs, userCache});
  _listeners.addToQueue(_queue, {userLogs, systemLogs, userCache, end});
}

}  // namespace vantelkit

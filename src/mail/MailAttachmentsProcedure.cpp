#include "vantelkit/mail/MailAttachmentsProcedure.h"

#include <fmt/core.h>

#include <algorithm>

#include "mail/internal/MailLocations.h"
#include "vantelkit/foundation/AsyncProcedure.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/scanning/FileCollector.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

namespace {

// An identifier names one folder below the mail folder; anything that could name another
// place is refused.
bool isPlainFolderName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace

MailAttachmentsProcedure::MailAttachmentsProcedure() {
  setMaxConcurrentOperationCount(1);
  setQualityOfService(QualityOfService::userInitiated);
  addChild(std::make_shared<AsyncProcedure>([group = weakReference<MailAttachmentsProcedure>()] {
    if (auto strong = group.lock()) strong->readAccounts();
  }));
}

std::vector<MailAttachmentsScanner::MailAccount> MailAttachmentsProcedure::accounts() const {
  std::lock_guard lock(_stateMutex);
  return _accounts;
}

std::vector<std::shared_ptr<FileNode>> MailAttachmentsProcedure::downloads() const {
  std::lock_guard lock(_stateMutex);
  return _downloads;
}

std::map<std::string, std::vector<std::shared_ptr<FileNode>>> MailAttachmentsProcedure::results() const {
  std::lock_guard lock(_stateMutex);
  return _results;
}

void MailAttachmentsProcedure::readAccounts() {
  auto accounts = MailAttachmentsScanner::getMailAccounts();
  {
    std::lock_guard lock(_stateMutex);
    _accounts = std::move(accounts);
  }
  auto scan = std::make_shared<SimpleFileScanProcedure>(FileURL::fileURLWithPath(internal::mailDownloadsPath()),
                                                        std::vector{FileCollectorOptions::filesIgnoringDsStore},
                                                        downloadsDepthLimit);
  auto block =
      resultProcessingProcedure(scan, [group = weakReference<MailAttachmentsProcedure>(),
                                       weakScan = std::weak_ptr(scan)](const CollectedFiles& files) {
        auto strong = group.lock();
        if (!strong) return;
        if (auto scanned = weakScan.lock()) strong->addUnreadable(scanned->unreadable());
        strong->didScanDownloads(files);
      });
  addChild(scan);
  addChild(block);
}

void MailAttachmentsProcedure::didScanDownloads(const CollectedFiles& collected) {
  std::vector<MailAttachmentsScanner::MailAccount> accounts;
  {
    std::lock_guard lock(_stateMutex);
    auto found = collected.find(std::string(rawValue(FileCollectorOptions::filesIgnoringDsStore)));
    _downloads = found == collected.end() ? std::vector<std::shared_ptr<FileNode>>() : found->second;
    accounts = _accounts;
  }
  std::vector<std::shared_ptr<GroupProcedure>> folderScans;
  for (const auto& account : accounts) {
    for (const auto& identifier : account.identifiers) {
      if (!isPlainFolderName(identifier)) {
        LogWarning(fmt::format("Skipped the mail account identifier \"{}\" of \"{}\": not a folder name", identifier,
                               account.name));
        continue;
      }
      folderScans.push_back(makeAccountFolderScan(account.name, identifier));
    }
  }
  auto finalBlock = std::make_shared<BlockProcedure>([group = weakReference<MailAttachmentsProcedure>()] {
    if (auto strong = group.lock()) strong->finishResults();
  });
  for (const auto& scan : folderScans) finalBlock->addDependency(scan);
  addChildren(folderScans);
  addChild(finalBlock);
}

std::shared_ptr<GroupProcedure> MailAttachmentsProcedure::makeAccountFolderScan(const std::string& accountName,
                                                                               const std::string& identifier) {
  auto folderGroup = std::make_shared<GroupProcedure>();
  folderGroup->setMaxConcurrentOperationCount(1);
  auto collector = std::make_shared<MailAttachmentCollector>();
  auto scan = std::make_shared<FileScanProcedure>(
      FileURL::fileURLWithPath(internal::mailAccountFolderPath(identifier), true),
      std::vector<std::shared_ptr<FileCollector>>{collector}, false, accountFolderDepthLimit);
  scan->setQualityOfService(QualityOfService::userInitiated);
  auto block = resultProcessingProcedure(
      scan, [group = weakReference<MailAttachmentsProcedure>(), collector,
             accountName](const std::shared_ptr<DiskScanResult>& result) {
        auto strong = group.lock();
        if (!strong) return;
        strong->addResults(accountName, collector->files());
        if (result) strong->addUnreadable(result->unreadableEntries());
      });
  folderGroup->addChild(scan);
  folderGroup->addChild(block);
  return folderGroup;
}

void MailAttachmentsProcedure::addResults(const std::string& accountName,
                                          const std::vector<std::shared_ptr<FileNode>>& files) {
  std::lock_guard lock(_stateMutex);
  auto& entry = _results[accountName];
  entry.insert(entry.end(), files.begin(), files.end());
}

std::vector<DiskScanResult::UnreadableEntry> MailAttachmentsProcedure::unreadable() const {
  std::lock_guard lock(_stateMutex);
  return _unreadable;
}

void MailAttachmentsProcedure::addUnreadable(const std::vector<DiskScanResult::UnreadableEntry>& entries) {
  std::lock_guard lock(_stateMutex);
  for (const auto& entry : entries) {
    auto at = std::lower_bound(_unreadable.begin(), _unreadable.end(), entry,
                               [](const auto& a, const auto& b) { return a.path < b.path; });
    // Two identifiers of one account can name the same folder.
    if (at != _unreadable.end() && at->path == entry.path) continue;
    _unreadable.insert(at, entry);
  }
}

void MailAttachmentsProcedure::finishResults() {
  MailAttachments output;
  {
    std::lock_guard lock(_stateMutex);
    for (const auto& [name, files] : _results) output.attachments.push_back(MailAttachmentsScanItem{name, files});
    output.downloads = _downloads;
  }
  setSuccess(std::move(output));
}

}  // namespace vantelkit

// Finds the attachment files that the mail client keeps for each mail account, and the files
// of its downloads folder. A group that grows its children as it learns: it reads the
// accounts, scans the downloads folder (".DS_Store" left out, 10 levels), then each account
// identifier's folder under home + "/Library/Mail/V7/" (15 levels; only files below a folder
// named "Attachments"), and assembles the output, one item per account description. An
// identifier that is not a plain folder name (empty, ".", "..", or holding "/" or NUL) is
// skipped with a warning, so the database cannot point the scan at another folder. Missing
// folders give empty lists; folders and entries that could not be read are left out and
// listed in unreadable(); cancelled before the end, the output stays pending.
// Thread safety: as GroupProcedure; the accessors are safe from any thread and answer the
// state as it is now (complete once the procedure has finished).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vantelkit/scanning/SimpleFileScanProcedure.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/mail/MailAttachmentsScanItem.h"
#include "vantelkit/mail/MailAttachmentsScanner.h"
#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

// The output of MailAttachmentsProcedure.
struct MailAttachments {
  // One item per account description (in description order).
  std::vector<MailAttachmentsScanItem> attachments;
  // The files of the mail downloads folder.
  std::vector<std::shared_ptr<FileNode>> downloads;
};

class MailAttachmentsProcedure : public GroupProcedure, public OutputProcedure<MailAttachments> {
 public:
  // The directory levels listed in the downloads folder and in each account folder.
  static constexpr int downloadsDepthLimit = 10;
  static constexpr int accountFolderDepthLimit = 15;

  // Runs its children one at a time at user-initiated quality of service; the only child to
  // begin with reads the accounts.
  MailAttachmentsProcedure();

  // The accounts read by the first child (empty before, and when the database was unreadable).
  std::vector<MailAttachmentsScanner::MailAccount> accounts() const;
  // The files of the downloads folder, once scanned.
  std::vector<std::shared_ptr<FileNode>> downloads() const;
  // The attachment files found so far, by account name.
  std::map<std::string, std::vector<std::shared_ptr<FileNode>>> results() const;
  // What the downloads and account folder scans could not read, sorted by path, each path once.
  std::vector<DiskScanResult::UnreadableEntry> unreadable() const;

 private:
  void readAccounts();
  void didScanDownloads(const CollectedFiles& collected);
  std::shared_ptr<GroupProcedure> makeAccountFolderScan(const std::string& accountName, const std::string& identifier);
  void addResults(const std::string& accountName, const std::vector<std::shared_ptr<FileNode>>& files);
  void addUnreadable(const std::vector<DiskScanResult::UnreadableEntry>& entries);
  void finishResults();

  // Written only by the children, which never overlap; the lock serves the accessors.
  mutable std::mutex _stateMutex;
  std::vector<MailAttachmentsScanner::MailAccount> _accounts;              // guarded by _stateMutex
  std::vector<std::shared_ptr<FileNode>> _downloads;                       // guarded by _stateMutex
  std::map<std::string, std::vector<std::shared_ptr<FileNode>>> _results;  // guarded by _stateMutex
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;                // guarded by _stateMutex
};

}  // namespace vantelkit

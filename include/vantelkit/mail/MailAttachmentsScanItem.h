// The attachments of one mail account: the files found in the folders of all of the
// account's identifiers.
// Thread safety: a value type; one owner at a time, const access from any thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

struct MailAttachmentsScanItem {
  // The account's description (MailAttachmentsScanner::MailAccount::name).
  std::string name;
  // The attachment files, those of the account's first identifier first.
  std::vector<std::shared_ptr<FileNode>> files;

  bool operator==(const MailAttachmentsScanItem&) const = default;
};

}  // namespace vantelkit

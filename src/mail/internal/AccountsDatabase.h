// Reading the rows of the accounts table without touching anything beside the database file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/mail/MailAttachmentsScanner.h"

namespace vantelkit::internal {

// The columns of one ZACCOUNT row that the mail scan uses; a NULL, or a value of another
// storage class than the column's, is absent.
struct AccountRow {
  std::optional<std::int64_t> primaryKey;
  std::optional<std::string> identifier;
  std::optional<std::string> description;
  std::optional<bool> active;
  std::optional<bool> authenticated;
  std::optional<std::int64_t> parent;
  std::optional<std::string> dataClassProperties;
};

// Every row of ZACCOUNT in table order, read in one read transaction, or a MailAccountsError.
// A database in write-ahead-log mode, or with a "-wal" or "-journal" file beside it, is read
// from a copy of the database and those files in a private temporary folder (removed
// afterwards), where SQLite may play back a journal; any other is opened read-only where it
// is, waiting up to busyTimeoutMilliseconds for a writer's lock.
// ZACCOUNT must be a stored table without columns computed on read; the read ends with
// limitExceeded when it goes past one of the limits.
Result<std::vector<AccountRow>> readAccountRows(const std::string& path, int busyTimeoutMilliseconds,
                                                const MailAttachmentsScanner::ReadLimits& limits);

}  // namespace vantelkit::internal

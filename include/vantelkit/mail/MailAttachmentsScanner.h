// Which of the user's accounts are mail accounts, and under which identifiers the mail client
// files their data: read from the system's accounts database (home +
// "/Library/Accounts/Accounts4.sqlite") with SQLite, read-only. Nothing beside the database is
// created, changed or deleted: a database with a write-ahead log, or with the rollback journal
// of a writer that did not finish, is read from a private copy of it and its log or journal in
// a temporary folder, so that rows living only in the log are seen and the journal's
// uncommitted changes are undone in the copy. A database locked by a writer is waited for up
// to busyTimeoutMilliseconds, then given up. The database is outside data: one read is bounded
// by ReadLimits, and ZACCOUNT must be a stored table.
// Thread safety: stateless; safe to call from any thread. Each call opens its own connection.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Result.h"

namespace vantelkit {

// Why the accounts database could not be read.
class MailAccountsError final : public Error {
 public:
  enum class Code {
    // The file is missing or cannot be read.
    unavailable,
    // Another process kept it locked past the busy timeout, or kept changing it while it was
    // copied.
    busy,
    // SQLite refused it: not a database, damaged, or without the table or columns read; or
    // ZACCOUNT is not a stored table (a view, a virtual table, columns computed on read).
    unreadable,
    // Reading it went past one of the ReadLimits.
    limitExceeded,
    // A data-class property archive could not be decoded.
    unarchivingFailed,
  };

  MailAccountsError(Code code, std::string detail) : _code(code), _detail(std::move(detail)) {}
  Code code() const { return _code; }
  const std::string& detail() const { return _detail; }

  std::string typeName() const override { return "MailAccountsError"; }
  // The case name and the detail: "busy(database is locked)".
  std::string description() const override;
  // The detail, for people.
  std::string localizedDescription() const override { return _detail; }

 private:
  Code _code;
  std::string _detail;
};

class MailAttachmentsScanner {
 public:
  MailAttachmentsScanner() = delete;

  struct MailAccount {
    // The description of the parent account (ZACCOUNTDESCRIPTION).
    std::string name;
    // The identifiers (ZIDENTIFIER) of the mail-enabled child accounts under that
    // description, in table order.
    std::vector<std::string> identifiers;
    bool operator==(const MailAccount&) const = default;
  };

  // How long a locked database is waited for.
  static constexpr int busyTimeoutMilliseconds = 1000;

  // What one read may cost. A real accounts database has tens of rows and a schema of a few
  // kilobytes, so these are far above what it needs; a read that goes past one of them ends
  // with MailAccountsError::Code::limitExceeded, naming the limit.
  struct ReadLimits {
    // Time spent reading, the wait for a writer's lock not counted.
    int timeMilliseconds = 1000;
    // Rows of ZACCOUNT.
    std::size_t rows = 10'000;
    // Bytes of text and blob values kept from those rows; one value may have at most
    // valueBytes.
    std::size_t rowBytes = 8 * 1024 * 1024;
    std::size_t valueBytes = 1024 * 1024;
    // Growth of SQLite's heap during the read: the parsed schema, the page cache, statements.
    std::size_t sqliteMemoryBytes = 16 * 1024 * 1024;
    bool operator==(const ReadLimits&) const = default;
  };

  // One account per parent description, in the order the descriptions were first met. Never
  // fails: on any error it logs the warning "Error when reading database: " and the error's
  // localized description, and answers an empty list.
  static std::vector<MailAccount> getMailAccounts();

  // The same read, answering the error instead of logging it.
  static Result<std::vector<MailAccount>> readMailAccounts();
  // The read of the database file at databasePath, within the default limits or the given ones.
  static Result<std::vector<MailAccount>> readMailAccounts(const std::string& databasePath);
  static Result<std::vector<MailAccount>> readMailAccounts(const std::string& databasePath,
                                                           const ReadLimits& limits);

  // Where the database is read: home + "/Library/Accounts/Accounts4.sqlite".
  static std::string databasePath();
};

}  // namespace vantelkit

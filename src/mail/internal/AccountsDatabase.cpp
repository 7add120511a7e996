#include "mail/internal/AccountsDatabase.h"

#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <system_error>

#include <fmt/core.h>

#include "vantelkit/mail/MailAttachmentsScanner.h"

namespace fs = std::filesystem;

namespace vantelkit::internal {

namespace {

using Code = MailAccountsError::Code;

// Copies larger than this (database and log together) are refused rather than made.
constexpr std::uintmax_t kMaximumCopySize = std::uintmax_t{256} * 1024 * 1024;
// One text or blob larger than this is refused by SQLite.
constexpr int kMaximumValueLength = 64 * 1024 * 1024;
// The virtual-machine steps one read may take (well past a million rows), checked every
// kProgressInterval steps: a crafted schema cannot keep the read busy for long.
constexpr int kProgressInterval = 1000;
constexpr std::uint64_t kMaximumSteps = 200'000'000;
// Copies attempted while the database keeps changing.
constexpr int kCopyAttempts = 3;

constexpr const char* kQuery =
    "SELECT Z_PK, ZIDENTIFIER, ZACCOUNTDESCRIPTION, ZACTIVE, ZAUTHENTICATED, ZPARENTACCOUNT, ZDATACLASSPROPERTIES "
    "FROM ZACCOUNT";

ErrorPtr failure(Code code, std::string detail) { return makeError<MailAccountsError>(code, std::move(detail)); }

// What changes when a file is written: whether it exists, its size and its modification time.
struct Stamp {
  bool exists = false;
  std::uintmax_t size = 0;
  fs::file_time_type modified{};
  bool operator==(const Stamp&) const = default;
};

Stamp stampOf(const fs::path& path) {
  std::error_code error;
  Stamp stamp;
  stamp.exists = fs::is_regular_file(path, error);
  if (!stamp.exists) return stamp;
  stamp.size = fs::file_size(path, error);
  stamp.modified = fs::last_write_time(path, error);
  return stamp;
}

// A folder of our own in the temporary folder, removed with everything in it.
class PrivateFolder {
 public:
  static std::unique_ptr<PrivateFolder> make() {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error) return nullptr;
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
      const fs::path candidate = base / fmt::format("vantel-accounts-{:08x}{:08x}", entropy(), entropy());
      if (fs::create_directory(candidate, error)) {
        fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, error);
        return std::unique_ptr<PrivateFolder>(new PrivateFolder(candidate));
      }
    }
    return nullptr;
  }
  ~PrivateFolder() {
    std::error_code error;
    fs::remove_all(_path, error);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const fs::path& path() const { return _path; }

 private:
  explicit PrivateFolder(fs::path path) : _path(std::move(path)) {}
  fs::path _path;
};

// Copies source to target by reading it, so the source is only ever opened for reading.
bool copyBytes(const fs::path& source, const fs::path& target) {
  std::ifstream in(source, std::ios::binary);
  if (!in) return false;
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  std::array<char, 1 << 16> buffer{};
  while (in) {
    in.read(buffer.data(), buffer.size());
    out.write(buffer.data(), in.gcount());
  }
  return !in.bad() && static_cast<bool>(out.flush());
}

// The database and its log copied into folder, unchanged during the copy. The database's
// shared-memory index is not copied: SQLite rebuilds it from the log, which is always right,
// where a copy taken while a writer updates it might not be.
Result<fs::path> copyWithLog(const fs::path& database, const PrivateFolder& folder) {
  const fs::path log = database.string() + "-wal";
  const fs::path databaseCopy = folder.path() / "Accounts4.sqlite";
  const fs::path logCopy = folder.path() / "Accounts4.sqlite-wal";
  for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
    const Stamp databaseBefore = stampOf(database);
    const Stamp logBefore = stampOf(log);
    if (!databaseBefore.exists) return failure(Code::unavailable, fmt::format("no database at {}", database.string()));
    if (databaseBefore.size + logBefore.size > kMaximumCopySize) {
      return failure(Code::unreadable, fmt::format("the database at {} and its log are larger than {} bytes",
                                                   database.string(), kMaximumCopySize));
    }
    std::error_code ignored;
    fs::remove(logCopy, ignored);
    if (!copyBytes(database, databaseCopy)) {
      return failure(Code::unavailable, fmt::format("cannot read the database at {}", database.string()));
    }
    if (logBefore.exists && !copyBytes(log, logCopy)) {
      return failure(Code::unavailable, fmt::format("cannot read the log of the database at {}", database.string()));
    }
    if (stampOf(database) == databaseBefore && stampOf(log) == logBefore) return databaseCopy;
  }
  return failure(Code::busy, fmt::format("the database at {} kept changing while it was read", database.string()));
}

// True when the file's header marks write-ahead-log mode (file format versions 2).
bool headerMarksWriteAheadLog(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::array<char, 20> header{};
  in.read(header.data(), header.size());
  if (in.gcount() < static_cast<std::streamsize>(header.size())) return false;
  return std::memcmp(header.data(), "SQLite format 3", 16) == 0 && (header[18] == 2 || header[19] == 2);
}

struct DatabaseCloser {
  void operator()(sqlite3* database) const { sqlite3_close_v2(database); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

ErrorPtr sqliteFailure(sqlite3* database, int code, std::string_view what, const std::string& path) {
  const int primary = code & 0xFF;
  const char* message = database ? sqlite3_errmsg(database) : sqlite3_errstr(code);
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    return failure(Code::busy, fmt::format("the database at {} is locked by another process ({})", path, message));
  }
  if (primary == SQLITE_CANTOPEN || primary == SQLITE_PERM || primary == SQLITE_AUTH) {
    return failure(Code::unavailable, fmt::format("cannot open the database at {}: {}", path, message));
  }
  if (primary == SQLITE_INTERRUPT) {
    return failure(Code::unreadable, fmt::format("reading the database at {} took too many steps", path));
  }
  return failure(Code::unreadable, fmt::format("cannot {} the database at {}: {}", what, path, message));
}

int stopAfterBudget(void* context) {
  auto* steps = static_cast<std::uint64_t*>(context);
  *steps += kProgressInterval;
  return *steps > kMaximumSteps ? 1 : 0;
}

std::optional<std::int64_t> integerColumn(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) != SQLITE_INTEGER) return std::nullopt;
  return sqlite3_column_int64(statement, column);
}

std::optional<std::string> textColumn(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) != SQLITE_TEXT) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  const int length = sqlite3_column_bytes(statement, column);
  return text ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

std::optional<std::string> blobColumn(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) != SQLITE_BLOB) return std::nullopt;
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
  const int length = sqlite3_column_bytes(statement, column);
  return bytes ? std::string(bytes, static_cast<std::size_t>(length)) : std::string();
}

std::optional<bool> booleanColumn(sqlite3_stmt* statement, int column) {
  auto value = integerColumn(statement, column);
  if (!value) return std::nullopt;
  return *value != 0;
}

// The rows of the database file at path (the original or a copy); shownPath names it in
// messages.
Result<std::vector<AccountRow>> queryRows(const fs::path& path, const std::string& shownPath,
                                          int busyTimeoutMilliseconds) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<sqlite3, DatabaseCloser> database(raw);
  if (opened != SQLITE_OK) return sqliteFailure(database.get(), opened, "open", shownPath);
  sqlite3_extended_result_codes(database.get(), 1);
  sqlite3_busy_timeout(database.get(), busyTimeoutMilliseconds);
  // The schema is outside data: it may not call functions with side effects, and no single
  // value may be huge.
  sqlite3_db_config(database.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(database.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_limit(database.get(), SQLITE_LIMIT_LENGTH, kMaximumValueLength);
  std::uint64_t steps = 0;
  sqlite3_progress_handler(database.get(), kProgressInterval, stopAfterBudget, &steps);

  sqlite3_stmt* rawStatement = nullptr;
  const int prepared = sqlite3_prepare_v2(database.get(), kQuery, -1, &rawStatement, nullptr);
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(rawStatement);
  if (prepared != SQLITE_OK) return sqliteFailure(database.get(), prepared, "query", shownPath);
  std::vector<AccountRow> rows;
  while (true) {
    const int stepped = sqlite3_step(statement.get());
    if (stepped == SQLITE_DONE) break;
    if (stepped != SQLITE_ROW) return sqliteFailure(database.get(), stepped, "read", shownPath);
    AccountRow row;
    row.primaryKey = integerColumn(statement.get(), 0);
    row.identifier = textColumn(statement.get(), 1);
    row.description = textColumn(statement.get(), 2);
    row.active = booleanColumn(statement.get(), 3);
    row.authenticated = booleanColumn(statement.get(), 4);
    row.parent = integerColumn(statement.get(), 5);
    row.dataClassProperties = blobColumn(statement.get(), 6);
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

Result<std::vector<AccountRow>> readAccountRows(const std::string& path, int busyTimeoutMilliseconds) {
  std::error_code error;
  const fs::path database(path);
  if (!fs::is_regular_file(database, error)) {
    return failure(Code::unavailable, fmt::format("no database at {}", path));
  }
  {
    std::ifstream probe(database, std::ios::binary);
    if (!probe) return failure(Code::unavailable, fmt::format("cannot read the database at {}", path));
  }
  // SQLite would create the log and its index beside a database in write-ahead-log mode even
  // for a read-only connection (and could remove a log it finds beside a database that is not
  // in that mode), so such a database is read from a copy.
  const bool logBeside = fs::exists(database.string() + "-wal", error);
  if (!headerMarksWriteAheadLog(database) && !logBeside) return queryRows(database, path, busyTimeoutMilliseconds);
  auto folder = PrivateFolder::make();
  if (!folder) return failure(Code::unavailable, "cannot make a temporary folder for a copy of the database");
  auto copy = copyWithLog(database, *folder);
  if (!copy) return copy.error();
  return queryRows(*copy, path, busyTimeoutMilliseconds);
}

}  // namespace vantelkit::internal

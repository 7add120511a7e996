#include "mail/internal/AccountsDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <system_error>
#include <thread>

#include <fmt/core.h>

#include "vantelkit/mail/MailAttachmentsScanner.h"

namespace fs = std::filesystem;

namespace vantelkit::internal {

namespace {

using Code = MailAccountsError::Code;

// Copies larger than this (the database and the files beside it together) are refused rather
// than made.
constexpr std::uintmax_t kMaximumCopySize = std::uintmax_t{256} * 1024 * 1024;
// The longest statement SQLite parses, ours or one of the schema's. A real schema's statements
// are a few kilobytes; parsing one may take some sixty times its length in memory.
constexpr int kMaximumStatementLength = 16 * 1024;
// The budget is checked every kProgressInterval virtual-machine steps (loading the schema takes
// about seven per schema entry, so the memory of a few entries at most goes unchecked).
constexpr int kProgressInterval = 50;
// The connection's page cache, in kibibytes.
constexpr int kPageCacheKibibytes = 2048;
// How often a writer's lock is tried again while it is waited for.
constexpr auto kLockPollInterval = std::chrono::milliseconds(10);
// Copies attempted while the database keeps changing.
constexpr int kCopyAttempts = 3;

constexpr const char* kQuery =
    "SELECT Z_PK, ZIDENTIFIER, ZACCOUNTDESCRIPTION, ZACTIVE, ZAUTHENTICATED, ZPARENTACCOUNT, ZDATACLASSPROPERTIES "
    "FROM main.ZACCOUNT";
// What ZACCOUNT is, from the parsed schema: "table", "view", "virtual" or "shadow". Unlike a
// query of ZACCOUNT itself, this neither expands a view nor connects a virtual table.
constexpr const char* kTableTypeQuery = "SELECT type FROM pragma_table_list('ZACCOUNT') WHERE schema = 'main'";
// The columns of the (stored) table that are computed on every read.
constexpr const char* kComputedColumnsQuery =
    "SELECT count(*) FROM pragma_table_xinfo('ZACCOUNT', 'main') WHERE hidden = 2";

using Clock = std::chrono::steady_clock;
using ReadLimits = MailAttachmentsScanner::ReadLimits;

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

// The files beside a database that hold its newest or its last committed state: the
// write-ahead log, and the rollback journal of a writer that did not finish.
constexpr std::array<std::string_view, 2> kSideFileSuffixes{"-wal", "-journal"};

// The database and the files beside it copied into folder, unchanged during the copy. The
// log's shared-memory index is not copied: SQLite rebuilds it from the log, which is always
// right, where a copy taken while a writer updates it might not be.
Result<fs::path> copyWithSideFiles(const fs::path& database, const PrivateFolder& folder) {
  const fs::path databaseCopy = folder.path() / "Accounts4.sqlite";
  for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
    const Stamp databaseBefore = stampOf(database);
    if (!databaseBefore.exists) return failure(Code::unavailable, fmt::format("no database at {}", database.string()));
    std::array<Stamp, kSideFileSuffixes.size()> sidesBefore;
    std::uintmax_t size = databaseBefore.size;
    for (std::size_t i = 0; i < kSideFileSuffixes.size(); ++i) {
      sidesBefore[i] = stampOf(database.string() + std::string(kSideFileSuffixes[i]));
      size += sidesBefore[i].size;
    }
    if (size > kMaximumCopySize) {
      return failure(Code::limitExceeded,
                     fmt::format("the database at {} and the files beside it are larger than {} bytes",
                                 database.string(), kMaximumCopySize));
    }
    if (!copyBytes(database, databaseCopy)) {
      return failure(Code::unavailable, fmt::format("cannot read the database at {}", database.string()));
    }
    for (std::size_t i = 0; i < kSideFileSuffixes.size(); ++i) {
      const fs::path side = database.string() + std::string(kSideFileSuffixes[i]);
      const fs::path sideCopy = databaseCopy.string() + std::string(kSideFileSuffixes[i]);
      std::error_code ignored;
      fs::remove(sideCopy, ignored);
      if (sidesBefore[i].exists && !copyBytes(side, sideCopy)) {
        return failure(Code::unavailable, fmt::format("cannot read {}", side.string()));
      }
    }
    bool unchanged = stampOf(database) == databaseBefore;
    for (std::size_t i = 0; i < kSideFileSuffixes.size(); ++i) {
      unchanged = unchanged && stampOf(database.string() + std::string(kSideFileSuffixes[i])) == sidesBefore[i];
    }
    if (unchanged) return databaseCopy;
  }
  return failure(Code::busy, fmt::format("the database at {} kept changing while it was read", database.string()));
}

std::uint32_t bigEndian32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// A rollback journal of a transaction over several databases ends with the name of its
// super-journal, its length and checksum, and this magic number.
constexpr std::array<unsigned char, 8> kJournalMagic{0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
// The longest super-journal name SQLite reads.
constexpr std::uint32_t kMaximumSuperJournalName = 512;

// Rolling back a journal that names a super-journal makes SQLite look at that file, and delete
// it when no journal needs it any more: a file anywhere, named by outside data. So the copy of
// the journal forgets the name, with the meaning SQLite gives it: while the super-journal
// exists the transaction did not commit, and the journal is rolled back as a plain one; once it
// is gone the transaction committed and the journal is stale, so the copy is removed.
void forgetSuperJournal(const fs::path& journal) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(journal, error);
  if (error || size < 16) return;
  std::fstream file(journal, std::ios::binary | std::ios::in | std::ios::out);
  std::array<unsigned char, 16> trailer{};
  file.seekg(static_cast<std::streamoff>(size - trailer.size()));
  file.read(reinterpret_cast<char*>(trailer.data()), trailer.size());
  const std::uint32_t length = bigEndian32(trailer.data());
  if (!file || std::memcmp(trailer.data() + 8, kJournalMagic.data(), kJournalMagic.size()) != 0 || length == 0 ||
      length > kMaximumSuperJournalName || length > size - trailer.size()) {
    return;
  }
  std::string name(length, '\0');
  file.seekg(static_cast<std::streamoff>(size - trailer.size() - length));
  file.read(name.data(), length);
  std::uint32_t checksum = bigEndian32(trailer.data() + 4);
  for (char c : name) checksum -= static_cast<std::uint32_t>(static_cast<signed char>(c));
  if (!file || checksum != 0) return;
  name.resize(std::strlen(name.c_str()));
  if (!name.empty() && !fs::exists(name, error)) {
    file.close();
    fs::remove(journal, error);
    return;
  }
  const std::array<char, kJournalMagic.size()> cleared{};
  file.seekp(static_cast<std::streamoff>(size - kJournalMagic.size()));
  file.write(cleared.data(), cleared.size());
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
  return failure(Code::unreadable, fmt::format("cannot {} the database at {}: {}", what, path, message));
}

// What one read may still spend, checked while SQLite works. SQLite has no heap account per
// connection, so the memory is its process-wide heap measured from where it stood when the read
// began: the library has no other SQLite connection, and a host's own use at the same moment
// only moves the point where the read gives up.
struct ReadBudget {
  enum class Exceeded { nothing, time, memory };
  Clock::time_point deadline;
  std::chrono::milliseconds busyTimeout{0};
  Clock::time_point waitStarted;
  sqlite3_int64 memoryAtStart = 0;
  sqlite3_int64 maximumMemory = 0;
  Exceeded exceeded = Exceeded::nothing;
};

int checkBudget(void* context) {
  auto& budget = *static_cast<ReadBudget*>(context);
  if (sqlite3_memory_used() - budget.memoryAtStart > budget.maximumMemory) {
    budget.exceeded = ReadBudget::Exceeded::memory;
    return 1;
  }
  if (Clock::now() > budget.deadline) {
    budget.exceeded = ReadBudget::Exceeded::time;
    return 1;
  }
  return 0;
}

// Waits for a writer's lock up to the busy timeout; the time waited moves the deadline on.
int waitForLock(void* context, int attempt) {
  auto& budget = *static_cast<ReadBudget*>(context);
  const auto started = Clock::now();
  if (attempt == 0) budget.waitStarted = started;
  if (started - budget.waitStarted >= budget.busyTimeout) return 0;
  std::this_thread::sleep_for(kLockPollInterval);
  budget.deadline += Clock::now() - started;
  return 1;
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

// The connection of one read and what it has spent.
class BoundedRead {
 public:
  BoundedRead(const std::string& shownPath, int busyTimeoutMilliseconds, const ReadLimits& limits)
      : _shownPath(shownPath), _limits(limits) {
    _budget.memoryAtStart = sqlite3_memory_used();
    _budget.maximumMemory = static_cast<sqlite3_int64>(limits.sqliteMemoryBytes);
    _budget.busyTimeout = std::chrono::milliseconds(busyTimeoutMilliseconds);
    _budget.deadline = Clock::now() + std::chrono::milliseconds(limits.timeMilliseconds);
  }

  // Opens path (the original or a copy) with every bound set.
  ErrorPtr open(const fs::path& path, int flags) {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    _database.reset(raw);
    if (opened != SQLITE_OK) return failed(opened, "open");
    sqlite3* database = _database.get();
    sqlite3_extended_result_codes(database, 1);
    sqlite3_busy_handler(database, waitForLock, &_budget);
    // The schema is outside data: it may not call functions with side effects, no value may be
    // long and no statement of it large.
    sqlite3_db_config(database, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(database, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_limit(database, SQLITE_LIMIT_LENGTH,
                  static_cast<int>(std::min<std::size_t>(_limits.valueBytes, std::numeric_limits<int>::max())));
    sqlite3_limit(database, SQLITE_LIMIT_SQL_LENGTH, kMaximumStatementLength);
    sqlite3_progress_handler(database, kProgressInterval, checkBudget, &_budget);
    const std::string pragmas = fmt::format("PRAGMA cache_size = -{}; PRAGMA mmap_size = 0", kPageCacheKibibytes);
    const int set = sqlite3_exec(database, pragmas.c_str(), nullptr, nullptr, nullptr);
    return set == SQLITE_OK ? nullptr : failed(set, "read");
  }

  // Every row of ZACCOUNT, when it is a stored table.
  Result<std::vector<AccountRow>> rows() {
    auto type = singleValue(kTableTypeQuery);
    if (!type) return type.error();
    if (*type && **type != "table") {
      return failure(Code::unreadable, fmt::format("ZACCOUNT in the database at {} is a {}, not a stored table",
                                                   _shownPath, **type == "virtual" ? "virtual table" : **type));
    }
    if (*type) {
      auto computed = singleValue(kComputedColumnsQuery);
      if (!computed) return computed.error();
      if (*computed && **computed != "0") {
        return failure(Code::unreadable,
                       fmt::format("ZACCOUNT in the database at {} computes columns on every read", _shownPath));
      }
    }
    auto statement = prepare(kQuery);
    if (!statement) return statement.error();
    std::vector<AccountRow> rows;
    std::size_t bytes = 0;
    while (true) {
      const int stepped = sqlite3_step(statement->get());
      if (stepped == SQLITE_DONE) break;
      if (stepped != SQLITE_ROW) return failed(stepped, "read");
      if (rows.size() == _limits.rows) {
        return failure(Code::limitExceeded,
                       fmt::format("the database at {} holds more than {} accounts", _shownPath, _limits.rows));
      }
      sqlite3_stmt* row = statement->get();
      AccountRow& account = rows.emplace_back();
      account.primaryKey = integerColumn(row, 0);
      account.identifier = textColumn(row, 1);
      account.description = textColumn(row, 2);
      account.active = booleanColumn(row, 3);
      account.authenticated = booleanColumn(row, 4);
      account.parent = integerColumn(row, 5);
      account.dataClassProperties = blobColumn(row, 6);
      bytes += account.identifier.value_or("").size() + account.description.value_or("").size() +
               account.dataClassProperties.value_or("").size();
      if (bytes > _limits.rowBytes) {
        return failure(Code::limitExceeded, fmt::format("the accounts in the database at {} hold more than {} bytes",
                                                        _shownPath, _limits.rowBytes));
      }
    }
    return rows;
  }

 private:
  using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

  Result<Statement> prepare(const char* sql) {
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(_database.get(), sql, -1, &raw, nullptr);
    Statement statement(raw);
    if (prepared != SQLITE_OK) return failed(prepared, "query");
    return statement;
  }

  // The first column of the first row of sql as text, or nothing when there is no row.
  Result<std::optional<std::string>> singleValue(const char* sql) {
    auto statement = prepare(sql);
    if (!statement) return statement.error();
    const int stepped = sqlite3_step(statement->get());
    if (stepped == SQLITE_DONE) return std::optional<std::string>();
    if (stepped != SQLITE_ROW) return failed(stepped, "read");
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement->get(), 0));
    return std::optional<std::string>(text ? text : "");
  }

  // Why a call that answered code failed: a limit of the read, or what SQLite says.
  ErrorPtr failed(int code, std::string_view what) const {
    switch (_budget.exceeded) {
      case ReadBudget::Exceeded::time:
        return failure(Code::limitExceeded, fmt::format("reading the database at {} took longer than {} ms",
                                                        _shownPath, _limits.timeMilliseconds));
      case ReadBudget::Exceeded::memory:
        return failure(Code::limitExceeded,
                       fmt::format("reading the database at {} needed more than {} bytes of memory", _shownPath,
                                   _limits.sqliteMemoryBytes));
      case ReadBudget::Exceeded::nothing: break;
    }
    if ((code & 0xFF) == SQLITE_TOOBIG) {
      return failure(Code::limitExceeded,
                     fmt::format("the database at {} holds a value longer than {} bytes or a statement longer than {}",
                                 _shownPath, _limits.valueBytes, kMaximumStatementLength));
    }
    return sqliteFailure(_database.get(), code, what, _shownPath);
  }

  std::string _shownPath;
  ReadLimits _limits;
  ReadBudget _budget;
  std::unique_ptr<sqlite3, DatabaseCloser> _database;
};

// The rows of the database file at path (the original, read-only, or a copy that SQLite may
// bring to its last committed state); shownPath names it in messages.
Result<std::vector<AccountRow>> queryRows(const fs::path& path, const std::string& shownPath,
                                          int busyTimeoutMilliseconds, const ReadLimits& limits, int openFlags) {
  BoundedRead read(shownPath, busyTimeoutMilliseconds, limits);
  if (auto error = read.open(path, openFlags)) return error;
  return read.rows();
}

}  // namespace

Result<std::vector<AccountRow>> readAccountRows(const std::string& path, int busyTimeoutMilliseconds,
                                                const ReadLimits& limits) {
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
  // in that mode); a rollback journal left by a writer that did not finish must be played back,
  // which a read-only connection refuses. Such a database is read from a copy that SQLite may
  // write.
  bool sideFileBeside = false;
  for (std::string_view suffix : kSideFileSuffixes) {
    sideFileBeside = sideFileBeside || fs::exists(database.string() + std::string(suffix), error);
  }
  if (!headerMarksWriteAheadLog(database) && !sideFileBeside) {
    return queryRows(database, path, busyTimeoutMilliseconds, limits, SQLITE_OPEN_READONLY);
  }
  auto folder = PrivateFolder::make();
  if (!folder) return failure(Code::unavailable, "cannot make a temporary folder for a copy of the database");
  auto copy = copyWithSideFiles(database, *folder);
  if (!copy) return copy.error();
  forgetSuperJournal(copy->string() + "-journal");
  return queryRows(*copy, path, busyTimeoutMilliseconds, limits, SQLITE_OPEN_READWRITE);
}

}  // namespace vantelkit::internal

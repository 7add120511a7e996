#include "MailHomeBuilder.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "KeyedArchiveBuilder.h"

namespace fs = std::filesystem;

namespace vantelkit::testing {

namespace {

// The columns of the system's table, in its order; the scan reads seven of them.
constexpr const char* kCreateTable =
    "CREATE TABLE ZACCOUNT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZACTIVE INTEGER, "
    "ZAUTHENTICATED INTEGER, ZSUPPORTSAUTHENTICATION INTEGER, ZVISIBLE INTEGER, ZWARMINGUP INTEGER, "
    "ZACCOUNTTYPE INTEGER, ZPARENTACCOUNT INTEGER, ZDATE TIMESTAMP, ZLASTCREDENTIALRENEWALREJECTIONDATE TIMESTAMP, "
    "ZACCOUNTDESCRIPTION VARCHAR, ZAUTHENTICATIONTYPE VARCHAR, ZCREDENTIALTYPE VARCHAR, ZIDENTIFIER VARCHAR, "
    "ZMODIFICATIONID VARCHAR, ZOWNINGBUNDLEID VARCHAR, ZUSERNAME VARCHAR, ZDATACLASSPROPERTIES BLOB )";

constexpr const char* kInsert =
    "INSERT INTO ZACCOUNT (Z_PK, Z_ENT, Z_OPT, ZIDENTIFIER, ZACCOUNTDESCRIPTION, ZACTIVE, ZAUTHENTICATED, "
    "ZPARENTACCOUNT, ZDATACLASSPROPERTIES, ZDATE) VALUES (?, 2, 1, ?, ?, ?, ?, ?, ?, 700000000.5)";

void check(sqlite3* database, int code, const char* what) {
  if (code == SQLITE_OK || code == SQLITE_DONE || code == SQLITE_ROW) return;
  throw std::runtime_error(std::string(what) + ": " + (database ? sqlite3_errmsg(database) : sqlite3_errstr(code)));
}

void execute(sqlite3* database, const char* sql) {
  check(database, sqlite3_exec(database, sql, nullptr, nullptr, nullptr), sql);
}

void insert(sqlite3* database, const MailHomeBuilder::Account& row) {
  sqlite3_stmt* statement = nullptr;
  check(database, sqlite3_prepare_v2(database, kInsert, -1, &statement, nullptr), "prepare");
  auto text = [&](int index, const std::optional<std::string>& value) {
    if (value) {
      sqlite3_bind_text(statement, index, value->data(), static_cast<int>(value->size()), SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(statement, index);
    }
  };
  auto integer = [&](int index, const std::optional<std::int64_t>& value) {
    if (value) {
      sqlite3_bind_int64(statement, index, *value);
    } else {
      sqlite3_bind_null(statement, index);
    }
  };
  sqlite3_bind_int64(statement, 1, row.primaryKey);
  text(2, row.identifier);
  text(3, row.description);
  integer(4, row.active);
  integer(5, row.authenticated);
  integer(6, row.parent);
  if (row.dataClassProperties) {
    sqlite3_bind_blob(statement, 7, row.dataClassProperties->data(), static_cast<int>(row.dataClassProperties->size()),
                      SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(statement, 7);
  }
  const int code = sqlite3_step(statement);
  sqlite3_finalize(statement);
  check(database, code, "insert");
}

}  // namespace

MailHomeBuilder::MailHomeBuilder(std::string home) : _home(std::move(home)) { fs::create_directories(_home); }

std::string MailHomeBuilder::databasePath() const { return _home + "/Library/Accounts/Accounts4.sqlite"; }

std::string MailHomeBuilder::accountFolder(std::string_view identifier) const {
  return _home + "/Library/Mail/V7/" + std::string(identifier);
}

std::string MailHomeBuilder::downloadsFolder() const {
  return _home + "/Library/Containers/com.apple.mail/Data/Library/Mail Downloads";
}

std::int64_t MailHomeBuilder::addAccount(Account row) {
  if (row.primaryKey == 0) row.primaryKey = _nextKey;
  _nextKey = std::max(_nextKey, row.primaryKey + 1);
  _rows.push_back(std::move(row));
  return _rows.back().primaryKey;
}

std::int64_t MailHomeBuilder::addParent(std::optional<std::string> description) {
  Account row;
  row.identifier = "parent-" + std::to_string(_nextKey);
  row.description = std::move(description);
  row.active = 1;
  row.authenticated = 1;
  return addAccount(std::move(row));
}

std::int64_t MailHomeBuilder::addMailAccount(std::int64_t parent, std::string identifier, bool active,
                                             bool authenticated, bool mail) {
  Account row;
  row.identifier = std::move(identifier);
  row.active = active ? 1 : 0;
  row.authenticated = authenticated ? 1 : 0;
  row.parent = parent;
  row.dataClassProperties = dataClassProperties(mail);
  return addAccount(std::move(row));
}

std::string MailHomeBuilder::dataClassProperties(bool mail) {
  Value::Dictionary classes{{"com.apple.Dataclass.Calendars", Value(Value::Dictionary{})}};
  if (mail) {
    classes.emplace(std::string(kMailDataclass),
                    Value(Value::Dictionary{{"enabled", Value(true)}, {"lastSync", Value(Date{1.7e9})}}));
  }
  return keyedArchive(Value(std::move(classes)));
}

void MailHomeBuilder::writeDatabase(JournalMode mode, std::size_t rowsOnlyInLog) {
  const std::string path = databasePath();
  fs::create_directories(fs::path(path).parent_path());
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix);
  sqlite3* database = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(database, sqlite3_close);
  check(database, opened, "open");
  if (mode == JournalMode::writeAheadLog) {
    execute(database, "PRAGMA journal_mode=WAL");
    execute(database, "PRAGMA wal_autocheckpoint=0");
  }
  execute(database, kCreateTable);
  const std::size_t inFile = _rows.size() - std::min(rowsOnlyInLog, _rows.size());
  execute(database, "BEGIN");
  for (std::size_t i = 0; i < inFile; ++i) insert(database, _rows[i]);
  execute(database, "COMMIT");
  if (mode == JournalMode::writeAheadLog) {
    check(database, sqlite3_wal_checkpoint_v2(database, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr),
          "checkpoint");
    execute(database, "BEGIN");
    for (std::size_t i = inFile; i < _rows.size(); ++i) insert(database, _rows[i]);
    execute(database, "COMMIT");
    check(database, sqlite3_db_config(database, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr), "no checkpoint");
  }
}

std::string MailHomeBuilder::mailFile(std::string_view identifier, std::string_view relative, std::int64_t size) {
  const std::string path = accountFolder(identifier) + "/" + std::string(relative);
  writeSizedFile(path, size);
  return path;
}

std::string MailHomeBuilder::download(std::string_view relative, std::int64_t size) {
  const std::string path = downloadsFolder() + "/" + std::string(relative);
  writeSizedFile(path, size);
  return path;
}

DatabaseWriteLock::DatabaseWriteLock(const std::string& path) {
  const int opened = sqlite3_open_v2(path.c_str(), &_database, SQLITE_OPEN_READWRITE, nullptr);
  if (opened != SQLITE_OK) {
    sqlite3_close(_database);
    throw std::runtime_error("cannot open " + path);
  }
  execute(_database, "BEGIN EXCLUSIVE");
}

DatabaseWriteLock::~DatabaseWriteLock() {
  sqlite3_exec(_database, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(_database);
}

void writeSizedFile(const std::string& path, std::int64_t size) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string chunk(4096, 'a');
  for (std::int64_t written = 0; written < size;) {
    const auto n = std::min<std::int64_t>(size - written, static_cast<std::int64_t>(chunk.size()));
    out.write(chunk.data(), n);
    written += n;
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace vantelkit::testing

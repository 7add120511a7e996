// Feeds the mail accounts reader a database chosen by the first byte of the input:
// - bit 3 set: the rest is SQL text, run on a fresh in-memory database (no attaching, no
//   pragmas, at most 16 MB of pages and a bounded number of steps) whose bytes then become the
//   accounts database, so that schemas (views, virtual tables, generated columns, large
//   schemas) are fuzzed and not only file bytes;
// - else bit 0 set: the next four bytes give the database's length (little-endian), the
//   database follows and the rest is the file beside it: its rollback journal when bit 2 is
//   set, else its write-ahead log;
// - else the whole input is the database file.
// Any crash, leak, hang or sanitizer report is a fault; so is a failure without a message, an
// account listed twice or without identifiers, a file left beside the database that the
// fuzzer did not write, or a change to the database or the file beside it.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Logging.h"
#include "vantelkit/mail/MailAttachmentsScanner.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kSplitFlag = 1;
constexpr unsigned kJournalFlag = 4;
constexpr unsigned kSchemaFlag = 8;

const fs::path& folder() {
  static const fs::path path = [] {
    std::random_device entropy;
    fs::path made = fs::temp_directory_path() / ("vantel-mail-fuzz-" + std::to_string(entropy()));
    fs::create_directories(made);
    return made;
  }();
  // Registered after the path was made, so it runs before the path is destroyed.
  static const bool removedAtExit = std::atexit([] {
    std::error_code ignored;
    fs::remove_all(folder(), ignored);
  }) == 0;
  (void)removedAtExit;
  return path;
}

void write(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int stopAfterSteps(void* context) { return ++*static_cast<int*>(context) > 20'000 ? 1 : 0; }

int denyAttachingAndPragmas(void*, int action, const char*, const char*, const char*, const char*) {
  return action == SQLITE_ATTACH || action == SQLITE_DETACH || action == SQLITE_PRAGMA ? SQLITE_DENY : SQLITE_OK;
}

// The bytes of an in-memory database after running sql on it (whatever of it runs).
std::string databaseMadeBy(const std::string& sql) {
  sqlite3* database = nullptr;
  std::string bytes;
  if (sqlite3_open(":memory:", &database) == SQLITE_OK) {
    sqlite3_limit(database, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(database, SQLITE_LIMIT_LENGTH, 1 << 20);
    sqlite3_exec(database, "PRAGMA max_page_count = 4096", nullptr, nullptr, nullptr);
    sqlite3_set_authorizer(database, denyAttachingAndPragmas, nullptr);
    int steps = 0;
    sqlite3_progress_handler(database, 100, stopAfterSteps, &steps);
    sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_progress_handler(database, 0, nullptr, nullptr);
    sqlite3_int64 size = 0;
    if (unsigned char* serialized = sqlite3_serialize(database, "main", &size, 0)) {
      bytes.assign(reinterpret_cast<const char*>(serialized), static_cast<std::size_t>(size));
      sqlite3_free(serialized);
    }
  }
  sqlite3_close(database);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const fs::path database = folder() / "Accounts4.sqlite";
  const fs::path wal = folder() / "Accounts4.sqlite-wal";
  const fs::path journal = folder() / "Accounts4.sqlite-journal";
  std::error_code ignored;
  fs::remove(wal, ignored);
  fs::remove(journal, ignored);
  const unsigned flags = input.empty() ? 0 : static_cast<unsigned char>(input[0]);
  std::string databaseBytes(input);
  std::optional<fs::path> beside;
  std::string besideBytes;
  if ((flags & kSchemaFlag) != 0) {
    databaseBytes = databaseMadeBy(std::string(input.substr(1)));
  } else if ((flags & kSplitFlag) != 0 && input.size() >= 5) {
    std::size_t length = 0;
    for (int i = 4; i >= 1; --i) length = length << 8 | static_cast<unsigned char>(input[static_cast<std::size_t>(i)]);
    databaseBytes = input.substr(5, std::min(length, input.size() - 5));
    beside = (flags & kJournalFlag) != 0 ? journal : wal;
    besideBytes = input.substr(5 + databaseBytes.size());
    write(*beside, besideBytes);
  }
  write(database, databaseBytes);

  auto result = vantelkit::MailAttachmentsScanner::readMailAccounts(database.string());
  if (!result) {
    if (result.error()->localizedDescription().empty()) __builtin_trap();
  } else {
    std::set<std::string> names;
    for (const auto& account : *result) {
      if (!names.insert(account.name).second || account.identifiers.empty()) __builtin_trap();
    }
  }
  for (const auto& entry : fs::directory_iterator(folder())) {
    const fs::path& path = entry.path();
    if (path != database && path != beside) __builtin_trap();
  }
  if (readAll(database) != databaseBytes || (beside && readAll(*beside) != besideBytes)) __builtin_trap();
  return 0;
}

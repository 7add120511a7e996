#include "vantelkit/mail/MailAttachmentsScanner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string_view>

#include <fmt/core.h>

#include "support/CapturingLogger.h"
#include "support/MailHomeBuilder.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/Paths.h"

using namespace vantelkit;
using vantel::testing::ScanFixtureTree;
using vantelkit::testing::CapturingLogger;
using vantelkit::testing::DatabaseWriteLock;
using vantelkit::testing::MailHomeBuilder;
using vantelkit::testing::ScopedLogLevel;
using MailAccount = MailAttachmentsScanner::MailAccount;
using JournalMode = MailHomeBuilder::JournalMode;

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// What a reader must leave as it was: every entry of a folder with its bytes and
// modification time.
std::map<std::string, std::pair<std::string, fs::file_time_type>> snapshot(const fs::path& folder) {
  std::map<std::string, std::pair<std::string, fs::file_time_type>> entries;
  for (const auto& entry : fs::directory_iterator(folder)) {
    entries[entry.path().filename().string()] = {readAll(entry.path()), fs::last_write_time(entry.path())};
  }
  return entries;
}

// A child row with the given fields (absent ones NULL).
MailHomeBuilder::Account childRow(std::optional<std::string> identifier, std::optional<std::int64_t> active,
                                  std::optional<std::int64_t> authenticated, std::optional<std::int64_t> parent,
                                  std::optional<std::string> dataClassProperties) {
  MailHomeBuilder::Account row;
  row.identifier = std::move(identifier);
  row.active = active;
  row.authenticated = authenticated;
  row.parent = parent;
  row.dataClassProperties = std::move(dataClassProperties);
  return row;
}

// A database at path made by running sql, with no accounts builder involved.
void writeSchema(const std::string& path, const std::string& sql) {
  fs::create_directories(fs::path(path).parent_path());
  sqlite3* database = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(database, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << message;
  sqlite3_free(message);
  sqlite3_close(database);
}

constexpr std::string_view kColumns =
    "Z_PK, ZIDENTIFIER, ZACCOUNTDESCRIPTION, ZACTIVE, ZAUTHENTICATED, ZPARENTACCOUNT, ZDATACLASSPROPERTIES";

class MailAttachmentsScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Paths::setHomeOverride(tree.path("home"));
    CapturingLogger::shared().clear();
  }
  void TearDown() override { platform::Paths::setHomeOverride(std::nullopt); }

  std::vector<std::string> warnings() const {
    return CapturingLogger::shared().linesContaining("Error when reading database: ");
  }

  // The error of a read that must fail.
  const MailAccountsError* readError(const MailAttachmentsScanner::ReadLimits& limits = {}) {
    auto result = MailAttachmentsScanner::readMailAccounts(MailAttachmentsScanner::databasePath(), limits);
    if (result) {
      ADD_FAILURE() << "the read succeeded";
      return nullptr;
    }
    _lastError = result.error();
    return errorAs<MailAccountsError>(_lastError);
  }

  ScanFixtureTree tree;
  MailHomeBuilder home{tree.path("home")};
  ScopedLogLevel level{LogLevel::warning};

 private:
  ErrorPtr _lastError;
};

TEST_F(MailAttachmentsScannerTest, MailChildrenAreGroupedUnderTheirParentsDescriptions) {
  const auto work = home.addParent("Work");
  home.addMailAccount(work, "WORK-A");
  home.addMailAccount(work, "WORK-INACTIVE", false, true);
  home.addMailAccount(work, "WORK-UNAUTHENTICATED", true, false);
  home.addMailAccount(work, "WORK-NO-MAIL", true, true, false);
  const auto personal = home.addParent("Personal");
  home.addMailAccount(personal, "PERSONAL-A");
  const auto undescribed = home.addParent(std::nullopt);
  home.addMailAccount(undescribed, "UNDESCRIBED");
  home.addMailAccount(999, "ORPHAN");
  // A second parent with the same description: its children join the first one's.
  const auto secondWork = home.addParent("Work");
  home.addMailAccount(work, "WORK-B");
  home.addMailAccount(secondWork, "WORK-C");
  // Rows that do not qualify for want of one field.
  const auto mail = MailHomeBuilder::dataClassProperties(true);
  home.addAccount(childRow("NO-PROPERTIES", 1, 1, work, std::nullopt));
  home.addAccount(childRow(std::nullopt, 1, 1, work, mail));
  home.addAccount(childRow("NULL-ACTIVE", std::nullopt, 1, work, mail));
  home.addAccount(childRow("NO-PARENT", 1, 1, std::nullopt, mail));
  home.writeDatabase();

  EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(),
            (std::vector<MailAccount>{{"Work", {"WORK-A", "WORK-B", "WORK-C"}}, {"Personal", {"PERSONAL-A"}}}));
  EXPECT_THAT(warnings(), ::testing::IsEmpty());
}

TEST_F(MailAttachmentsScannerTest, AFailedReadIsOneWarningAndNoAccounts) {
  // Missing.
  EXPECT_THAT(MailAttachmentsScanner::getMailAccounts(), ::testing::IsEmpty());
  ASSERT_EQ(warnings().size(), 1u);
  EXPECT_EQ(readError()->code(), MailAccountsError::Code::unavailable);
  EXPECT_FALSE(fs::exists(home.databasePath())) << "a read-only read made the database";

  // Garbage, and a real database cut short.
  fs::create_directories(fs::path(home.databasePath()).parent_path());
  std::ofstream(home.databasePath(), std::ios::binary) << std::string(5000, '\x5A');
  EXPECT_THAT(MailAttachmentsScanner::getMailAccounts(), ::testing::IsEmpty());
  EXPECT_EQ(readError()->code(), MailAccountsError::Code::unreadable);

  const auto parent = home.addParent("Work");
  for (int i = 0; i < 40; ++i) home.addMailAccount(parent, "ACCOUNT-" + std::to_string(i));
  home.writeDatabase();
  const auto full = fs::file_size(home.databasePath());
  ASSERT_GT(full, 4096u);
  fs::resize_file(home.databasePath(), full / 2);
  EXPECT_THAT(MailAttachmentsScanner::getMailAccounts(), ::testing::IsEmpty());
  EXPECT_EQ(readError()->code(), MailAccountsError::Code::unreadable);

  // A folder where the file should be.
  fs::remove(home.databasePath());
  fs::create_directory(home.databasePath());
  EXPECT_THAT(MailAttachmentsScanner::getMailAccounts(), ::testing::IsEmpty());
  EXPECT_EQ(warnings().size(), 4u);
}

TEST_F(MailAttachmentsScannerTest, AnArchiveThatDoesNotDecodeEndsTheWholeRead) {
  const auto parent = home.addParent("Work");
  home.addMailAccount(parent, "GOOD");
  // Tested before the active flag, so even an inactive row's archive counts.
  home.addAccount(childRow("BROKEN", 0, 1, parent, "bplist00 not really"));
  home.writeDatabase();
  EXPECT_THAT(MailAttachmentsScanner::getMailAccounts(), ::testing::IsEmpty());
  EXPECT_EQ(readError()->code(), MailAccountsError::Code::unarchivingFailed);
  ASSERT_EQ(warnings().size(), 1u);
}

TEST_F(MailAttachmentsScannerTest, ValuesOfUnexpectedTypesDoNotQualify) {
  const auto parent = home.addParent("Work");
  home.addMailAccount(parent, "GOOD");
  home.addMailAccount(parent, "TEXT-ACTIVE");
  home.addMailAccount(parent, "TEXT-PARENT");
  home.writeDatabase();
  sqlite3* database = nullptr;
  ASSERT_EQ(sqlite3_open(home.databasePath().c_str(), &database), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(database,
                         "UPDATE ZACCOUNT SET ZACTIVE = 'yes' WHERE ZIDENTIFIER = 'TEXT-ACTIVE';"
                         "UPDATE ZACCOUNT SET ZPARENTACCOUNT = 'one' WHERE ZIDENTIFIER = 'TEXT-PARENT';",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(database);
  EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(), (std::vector<MailAccount>{{"Work", {"GOOD"}}}));
}

TEST_F(MailAttachmentsScannerTest, OnlyAStoredTableIsRead) {
  const std::map<std::string, std::string> schemas{
      // Endless: every row a new account.
      {"is a view", fmt::format("CREATE VIEW ZACCOUNT ({}) AS WITH RECURSIVE r(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
                                "FROM r) SELECT x, 'ID-' || x, 'Work', 1, 1, 1, zeroblob(100) FROM r",
                                kColumns)},
      {"is a virtual table", fmt::format("CREATE VIRTUAL TABLE ZACCOUNT USING fts4({})", kColumns)},
      {"computes columns", "CREATE TABLE ZACCOUNT (Z_PK INTEGER PRIMARY KEY, ZACTIVE, ZAUTHENTICATED, ZPARENTACCOUNT, "
                           "ZDATACLASSPROPERTIES, ZACCOUNTDESCRIPTION, ZIDENTIFIER AS (ZACCOUNTDESCRIPTION || Z_PK))"},
  };
  for (const auto& [reason, schema] : schemas) {
    fs::remove(home.databasePath());
    writeSchema(home.databasePath(), schema);
    const auto started = std::chrono::steady_clock::now();
    const MailAccountsError* error = readError();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << reason;
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), MailAccountsError::Code::unreadable) << reason;
    EXPECT_THAT(error->detail(), ::testing::HasSubstr("ZACCOUNT in the database at"));
    EXPECT_THAT(error->detail(), ::testing::HasSubstr(reason));
  }
}

TEST_F(MailAttachmentsScannerTest, EachLimitEndsTheReadWithItsReason) {
  const auto parent = home.addParent(std::string(300, 'W'));
  for (int i = 0; i < 40; ++i) home.addMailAccount(parent, "ACCOUNT-" + std::to_string(i));
  home.writeDatabase();
  ASSERT_EQ(MailAttachmentsScanner::readMailAccounts()->size(), 1u);
  const std::map<std::string, MailAttachmentsScanner::ReadLimits> limits{
      {"more than 40 accounts", {.rows = 40}},
      {"hold more than 299 bytes", {.rowBytes = 299}},
      {"a value longer than 299 bytes", {.valueBytes = 299}},
      {"took longer than 0 ms", {.timeMilliseconds = 0}},
      {"needed more than 1000 bytes of memory", {.sqliteMemoryBytes = 1000}},
  };
  for (const auto& [reason, limit] : limits) {
    const MailAccountsError* error = readError(limit);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), MailAccountsError::Code::limitExceeded) << reason;
    EXPECT_THAT(error->detail(), ::testing::HasSubstr(reason));
  }
}

TEST_F(MailAttachmentsScannerTest, RowsOnlyInTheWriteAheadLogAreReadAndNothingBesideTheDatabaseChanges) {
  const auto work = home.addParent("Work");
  home.addMailAccount(work, "IN-FILE");
  const auto newer = home.addParent("Newer");
  home.addMailAccount(newer, "IN-LOG");
  home.addMailAccount(work, "ALSO-IN-LOG");
  home.writeDatabase(JournalMode::writeAheadLog, 3);
  const fs::path folder = fs::path(home.databasePath()).parent_path();
  ASSERT_GT(fs::file_size(home.databasePath() + "-wal"), 0u);
  const std::vector<MailAccount> expected{{"Work", {"IN-FILE", "ALSO-IN-LOG"}}, {"Newer", {"IN-LOG"}}};

  // With the log's index beside it, without it, and in a folder without write permission.
  for (int round = 0; round < 3; ++round) {
    if (round == 1) fs::remove(home.databasePath() + "-shm");
    if (round == 2) fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const auto before = snapshot(folder);
    EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(), expected) << "round " << round;
    EXPECT_EQ(snapshot(folder), before) << "round " << round;
  }
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_THAT(warnings(), ::testing::IsEmpty());
}

// Leaves the database as a writer killed in the middle of a transaction in rollback-journal
// mode leaves it: the database file with some of the transaction's pages (the writer's page
// cache is too small to hold them) and the journal with the committed ones.
std::vector<MailAccount> accountsIn(const fs::path& database) {
  auto accounts = MailAttachmentsScanner::readMailAccounts(database.string());
  return accounts ? *accounts : std::vector<MailAccount>{};
}

void leaveHotJournal(const fs::path& database, const fs::path& scratch) {
  fs::copy_file(database, scratch, fs::copy_options::overwrite_existing);
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(scratch.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer,
                         "PRAGMA journal_mode = DELETE; PRAGMA cache_size = 1; BEGIN; UPDATE ZACCOUNT SET "
                         "ZACCOUNTDESCRIPTION = 'Uncommitted', ZIDENTIFIER = ZIDENTIFIER || hex(zeroblob(300))",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  fs::copy_file(scratch, database, fs::copy_options::overwrite_existing);
  fs::copy_file(scratch.string() + "-journal", database.string() + "-journal");
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
}

TEST_F(MailAttachmentsScannerTest, TheJournalOfAKilledWriterIsRolledBackInACopy) {
  const auto work = home.addParent("Work");
  std::vector<std::string> identifiers;
  for (int i = 0; i < 60; ++i) {
    identifiers.push_back("ACCOUNT-" + std::to_string(i));
    home.addMailAccount(work, identifiers.back());
  }
  home.writeDatabase();
  leaveHotJournal(home.databasePath(), tree.path("writer.sqlite"));
  const fs::path alone = tree.path("alone.sqlite");
  fs::copy_file(home.databasePath(), alone);
  const std::vector<MailAccount> committed{{"Work", identifiers}};
  ASSERT_NE(accountsIn(alone), committed)
      << "the database file alone must hold uncommitted pages";

  const fs::path folder = fs::path(home.databasePath()).parent_path();
  const auto before = snapshot(folder);
  EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(), committed);
  EXPECT_EQ(snapshot(folder), before);
  EXPECT_THAT(warnings(), ::testing::IsEmpty());

  // A journal of a transaction over several databases names its super-journal, which SQLite
  // deletes once no journal needs it. While it exists the transaction is rolled back; once it
  // is gone the transaction committed.
  const fs::path super = tree.path("other-file");
  std::ofstream(super) << "not ours";
  const std::string name = super.string();
  std::uint32_t checksum = 0;
  for (char c : name) checksum += static_cast<std::uint32_t>(c);
  std::string trailer = std::string(4, '\0') + name;
  for (std::uint32_t value : {static_cast<std::uint32_t>(name.size()), checksum}) {
    for (int shift = 24; shift >= 0; shift -= 8) trailer += static_cast<char>(value >> shift);
  }
  trailer += "\xd9\xd5\x05\xf9\x20\xa1\x63\xd7";
  std::ofstream(home.databasePath() + "-journal", std::ios::binary | std::ios::app) << trailer;
  EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(), committed);
  EXPECT_TRUE(fs::exists(super));
  fs::remove(super);
  EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(), accountsIn(alone));
}

TEST_F(MailAttachmentsScannerTest, ALogBesideADatabaseNotInThatModeIsLeftAlone) {
  const auto work = home.addParent("Work");
  home.addMailAccount(work, "A");
  home.writeDatabase();
  std::ofstream(home.databasePath() + "-wal", std::ios::binary) << "stale";
  const fs::path folder = fs::path(home.databasePath()).parent_path();
  const auto before = snapshot(folder);
  EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(), (std::vector<MailAccount>{{"Work", {"A"}}}));
  EXPECT_EQ(snapshot(folder), before);
}

TEST_F(MailAttachmentsScannerTest, ALockedDatabaseIsWaitedForBrieflyThenGivenUp) {
  const auto work = home.addParent("Work");
  home.addMailAccount(work, "A");
  home.writeDatabase();
  {
    DatabaseWriteLock lock(home.databasePath());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THAT(MailAttachmentsScanner::getMailAccounts(), ::testing::IsEmpty());
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, std::chrono::milliseconds(MailAttachmentsScanner::busyTimeoutMilliseconds / 2));
    EXPECT_LT(waited, std::chrono::seconds(10));
    ASSERT_EQ(warnings().size(), 1u);
    EXPECT_THAT(warnings().front(), ::testing::HasSubstr("locked"));
  }
  EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(), (std::vector<MailAccount>{{"Work", {"A"}}}));
}

TEST_F(MailAttachmentsScannerTest, AWriterOfADatabaseWithALogDoesNotBlockTheRead) {
  const auto work = home.addParent("Work");
  home.addMailAccount(work, "A");
  home.writeDatabase(JournalMode::writeAheadLog);
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(home.databasePath().c_str(), &writer), SQLITE_OK);
  // An open write transaction whose row is not committed.
  ASSERT_EQ(sqlite3_exec(writer,
                         "BEGIN IMMEDIATE; INSERT INTO ZACCOUNT (Z_PK, ZIDENTIFIER) VALUES (100, 'UNCOMMITTED');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(), (std::vector<MailAccount>{{"Work", {"A"}}}));
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
}

TEST_F(MailAttachmentsScannerTest, TheSystemsOwnDatabaseReads) {
  const fs::path sample = fs::path(VANTEL_SAMPLES_DIR) / "accounts/plaso_ios_Accounts3.sqlite";
  if (!fs::exists(sample)) GTEST_SKIP() << "no sample accounts database";
  // A copy, since a writer is needed to give one child the mail data class of its parent.
  fs::create_directories(fs::path(home.databasePath()).parent_path());
  fs::copy_file(sample, home.databasePath());
  fs::permissions(home.databasePath(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_THAT(MailAttachmentsScanner::getMailAccounts(), ::testing::IsEmpty());
  EXPECT_THAT(warnings(), ::testing::IsEmpty()) << "the system's data-class archives must decode";

  sqlite3* database = nullptr;
  ASSERT_EQ(sqlite3_open(home.databasePath().c_str(), &database), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(database,
                         "UPDATE ZACCOUNT SET ZDATACLASSPROPERTIES = (SELECT ZDATACLASSPROPERTIES FROM ZACCOUNT "
                         "WHERE Z_PK = 4) WHERE Z_PK = 5",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(database);
  EXPECT_EQ(MailAttachmentsScanner::getMailAccounts(),
            (std::vector<MailAccount>{{"iCloud", {"798A0EA2-0B24-4857-B19C-3C048732B77D"}}}));
}

TEST(MailAccountsErrorTest, DescribesItsCaseAndTellsPeopleTheDetail) {
  const MailAccountsError error(MailAccountsError::Code::busy, "the database is locked");
  EXPECT_EQ(error.qualifiedDescription(), "MailAccountsError.busy(the database is locked)");
  EXPECT_EQ(error.localizedDescription(), "the database is locked");
}

}  // namespace

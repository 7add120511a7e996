// Builds what the mail attachments scan reads in a user's home folder: the accounts database
// ("Library/Accounts/Accounts4.sqlite", its ZACCOUNT table written with SQLite, the data-class
// properties as keyed archives written with libplist), the account folders of the mail client
// with their attachments, and the mail downloads folder. Nothing is written outside the home.
// Free of test-framework code, so a tool that writes a sample home can use it too.
// One owner at a time; failures throw std::runtime_error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace vantelkit::testing {

class MailHomeBuilder {
 public:
  // The data-class key that marks a mail-enabled account.
  static constexpr std::string_view kMailDataclass = "com.apple.Dataclass.Mail";

  // One row of ZACCOUNT; an absent field is NULL.
  struct Account {
    std::int64_t primaryKey = 0;  // 0: the next free key
    std::optional<std::string> identifier;
    std::optional<std::string> description;
    std::optional<std::int64_t> active;
    std::optional<std::int64_t> authenticated;
    std::optional<std::int64_t> parent;
    std::optional<std::string> dataClassProperties;  // the archive's bytes
  };

  enum class JournalMode { rollback, writeAheadLog };

  // home: the folder to build in (made when missing).
  explicit MailHomeBuilder(std::string home);

  const std::string& home() const { return _home; }
  // home + "/Library/Accounts/Accounts4.sqlite".
  std::string databasePath() const;
  // home + "/Library/Mail/V7/" + identifier.
  std::string accountFolder(std::string_view identifier) const;
  // home + "/Library/Containers/com.apple.mail/Data/Library/Mail Downloads".
  std::string downloadsFolder() const;

  // Rows are kept until writeDatabase() and written in the order they were added. Each
  // returns the row's primary key.
  std::int64_t addAccount(Account row);
  // A parent account, as the system keeps one per account the user added.
  std::int64_t addParent(std::optional<std::string> description);
  // A child account with the mail data class (or another one when mail is false).
  std::int64_t addMailAccount(std::int64_t parent, std::string identifier, bool active = true,
                              bool authenticated = true, bool mail = true);

  // A keyed archive of a dictionary of data classes, holding the mail one when mail is true.
  static std::string dataClassProperties(bool mail);

  // Writes the rows into a new database (an old one and its side files are removed first).
  // With the write-ahead log, the last rowsOnlyInLog rows are written after a checkpoint
  // and the writer is closed without checkpointing, so they live only in the "-wal" file.
  void writeDatabase(JournalMode mode = JournalMode::rollback, std::size_t rowsOnlyInLog = 0);

  // A file of size bytes (each 'a') at accountFolder(identifier) + "/" + relative, made with
  // its missing folders. Returns its path.
  std::string mailFile(std::string_view identifier, std::string_view relative, std::int64_t size);
  // A file in the mail downloads folder. Returns its path.
  std::string download(std::string_view relative, std::int64_t size);

 private:
  std::string _home;
  std::vector<Account> _rows;
  std::int64_t _nextKey = 1;
};

// Holds the database locked for writing (an exclusive transaction left open) until destroyed.
class DatabaseWriteLock {
 public:
  explicit DatabaseWriteLock(const std::string& path);
  ~DatabaseWriteLock();
  DatabaseWriteLock(const DatabaseWriteLock&) = delete;
  DatabaseWriteLock& operator=(const DatabaseWriteLock&) = delete;

 private:
  sqlite3* _database = nullptr;
};

// Writes size bytes (each 'a') to path, making the missing parent folders.
void writeSizedFile(const std::string& path, std::int64_t size);

}  // namespace vantelkit::testing

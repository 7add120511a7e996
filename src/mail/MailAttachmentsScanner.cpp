#include "vantelkit/mail/MailAttachmentsScanner.h"

#include <map>

#include <fmt/core.h>

#include "mail/internal/AccountsDatabase.h"
#include "mail/internal/MailLocations.h"
#include "vantelkit/foundation/KeyedUnarchiver.h"
#include "vantelkit/foundation/Logging.h"

namespace vantelkit {

namespace {

using internal::AccountRow;
using MailAccount = MailAttachmentsScanner::MailAccount;

constexpr std::string_view kMailDataclass = "com.apple.Dataclass.Mail";

std::string_view caseName(MailAccountsError::Code code) {
  switch (code) {
    case MailAccountsError::Code::unavailable: return "unavailable";
    case MailAccountsError::Code::busy: return "busy";
    case MailAccountsError::Code::unreadable: return "unreadable";
    case MailAccountsError::Code::limitExceeded: return "limitExceeded";
    case MailAccountsError::Code::unarchivingFailed: return "unarchivingFailed";
  }
  return "unreadable";
}

struct MailChild {
  std::string identifier;
  std::int64_t parent = 0;
};

// Pass 1: the mail-enabled child accounts, tested in a fixed order; an archive that does not
// decode ends the read.
Result<std::vector<MailChild>> mailChildren(const std::vector<AccountRow>& rows) {
  std::vector<MailChild> children;
  for (const AccountRow& row : rows) {
    if (!row.dataClassProperties) continue;
    auto object = KeyedUnarchiver::unarchiveTopLevelObject(*row.dataClassProperties);
    if (!object) {
      return makeError<MailAccountsError>(
          MailAccountsError::Code::unarchivingFailed,
          fmt::format("the data classes of an account could not be decoded: {}", object.error()->description()));
    }
    const Value::Dictionary* dataClasses = *object ? (*object)->dictionary() : nullptr;
    if (!dataClasses || dataClasses->find(kMailDataclass) == dataClasses->end()) continue;
    if (!row.active.value_or(false) || !row.authenticated.value_or(false)) continue;
    if (!row.parent || !row.identifier) continue;
    children.push_back({*row.identifier, *row.parent});
  }
  return children;
}

// Pass 2: the children grouped under the descriptions of their parents.
std::vector<MailAccount> groupByDescription(const std::vector<MailChild>& children,
                                            const std::vector<AccountRow>& rows) {
  // The first row of each primary key.
  std::map<std::int64_t, const AccountRow*> byKey;
  for (const AccountRow& row : rows) {
    if (row.primaryKey) byKey.try_emplace(*row.primaryKey, &row);
  }
  std::vector<MailAccount> accounts;
  std::map<std::string, std::size_t, std::less<>> positions;
  for (const MailChild& child : children) {
    auto parent = byKey.find(child.parent);
    if (parent == byKey.end() || !parent->second->description) continue;
    const std::string& name = *parent->second->description;
    auto [position, added] = positions.try_emplace(name, accounts.size());
    if (added) accounts.push_back(MailAccount{name, {}});
    accounts[position->second].identifiers.push_back(child.identifier);
  }
  return accounts;
}

}  // namespace

std::string MailAccountsError::description() const { return fmt::format("{}({})", caseName(_code), _detail); }

std::string MailAttachmentsScanner::databasePath() { return internal::accountsDatabasePath(); }

Result<std::vector<MailAccount>> MailAttachmentsScanner::readMailAccounts(const std::string& databasePath,
                                                                         const ReadLimits& limits) {
  auto rows = internal::readAccountRows(databasePath, busyTimeoutMilliseconds, limits);
  if (!rows) return rows.error();
  auto children = mailChildren(*rows);
  if (!children) return children.error();
  return groupByDescription(*children, *rows);
}

Result<std::vector<MailAccount>> MailAttachmentsScanner::readMailAccounts(const std::string& databasePath) {
  return readMailAccounts(databasePath, ReadLimits{});
}

Result<std::vector<MailAccount>> MailAttachmentsScanner::readMailAccounts() {
  return readMailAccounts(databasePath());
}

std::vector<MailAccount> MailAttachmentsScanner::getMailAccounts() {
  auto accounts = readMailAccounts();
  if (!accounts) {
    LogWarning("Error when reading database: " + accounts.error()->localizedDescription());
    return {};
  }
  return std::move(accounts).value();
}

}  // namespace vantelkit

// vantel mail [--home DIR] [--json]: the mail accounts of the accounts database with their
// identifiers, each account's attachment files and the files of the mail downloads folder,
// largest first, with totals. Accounts are sorted by name, files by size (largest first) and
// then path, so two runs over the same folders print the same bytes. An unreadable accounts
// database is no failure of the command: it lists no accounts and says why on stderr. Folders
// that could not be read are listed ("unreadable" in JSON, a closing line on stderr) and
// make the command fail.
#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "Command.h"
#include "TextOutput.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/mail/MailAttachmentsProcedure.h"
#include "vantelkit/platform/InterruptSignals.h"
#include "vantelkit/platform/Paths.h"

namespace {

using vantelkit::FileNode;
using Node = std::shared_ptr<FileNode>;

struct MailOptions {
  std::optional<std::string> home;
  bool json = false;
  int pauseMilliseconds = 0;
};

struct AccountReport {
  std::string name;
  std::vector<std::string> identifiers;
  std::vector<Node> attachments;
  std::int64_t size = 0;
};

void sortLargestFirst(std::vector<Node>& files) {
  std::sort(files.begin(), files.end(), [](const Node& a, const Node& b) {
    if (a->size() != b->size()) return a->size() > b->size();
    return a->url().path() < b->url().path();
  });
}

std::int64_t totalSize(const std::vector<Node>& files) {
  std::int64_t total = 0;
  for (const auto& file : files) total += file->size();
  return total;
}

std::string countOf(std::size_t count, std::string_view singular, std::string_view plural) {
  return fmt::format("{} {}", count, count == 1 ? singular : plural);
}

void writeFiles(vantelkit::JsonWriter& json, const std::vector<Node>& files) {
  json.beginArray();
  for (const auto& file : files) {
    json.beginObject();
    json.key("path");
    json.value(file->url().path());
    json.key("size");
    json.value(file->size());
    json.endObject();
  }
  json.endArray();
}

int printJson(const std::vector<AccountReport>& accounts, const std::vector<Node>& downloads, bool complete,
              const std::vector<vantelkit::DiskScanResult::UnreadableEntry>& unreadable) {
  vantelkit::JsonWriter json(vantel::standardOutputSink());
  json.beginObject();
  json.key("version");
  json.value(std::int64_t{1});
  json.key("complete");
  json.value(complete);
  json.key("accounts");
  json.beginArray();
  for (const auto& account : accounts) {
    json.beginObject();
    json.key("name");
    json.value(account.name);
    json.key("identifiers");
    json.beginArray();
    for (const auto& identifier : account.identifiers) json.value(identifier);
    json.endArray();
    json.key("size");
    json.value(account.size);
    json.key("attachments");
    writeFiles(json, account.attachments);
    json.endObject();
  }
  json.endArray();
  json.key("downloads");
  writeFiles(json, downloads);
  vantel::writeUnreadableJson(json, unreadable);
  json.endObject();
  // The writer buffers: what it holds goes out before the closing newline.
  const bool written = json.flush();
  std::fputc('\n', stdout);
  return written && vantel::flushStandardOutput() ? vantel::kExitSuccess : vantel::kExitFailure;
}

int printText(const std::vector<AccountReport>& accounts, const std::vector<Node>& downloads) {
  std::string out;
  std::size_t fileCount = downloads.size();
  std::int64_t total = totalSize(downloads);
  auto appendFiles = [&out](const std::vector<Node>& files) {
    for (const auto& file : files) out += fmt::format("  {}\t{}\n", file->size(), vantel::escapedForTerminal(file->url().path()));
  };
  for (const auto& account : accounts) {
    out += fmt::format("{}: {}, {}\n", vantel::escapedForTerminal(account.name),
                       countOf(account.attachments.size(), "attachment", "attachments"),
                       vantel::formatBytes(account.size));
    std::string identifiers;
    for (const auto& identifier : account.identifiers) identifiers += " " + vantel::escapedForTerminal(identifier);
    out += fmt::format("  identifiers:{}\n", identifiers);
    appendFiles(account.attachments);
    fileCount += account.attachments.size();
    total += account.size;
  }
  out += fmt::format("Mail downloads: {}, {}\n", countOf(downloads.size(), "file", "files"),
                     vantel::formatBytes(totalSize(downloads)));
  appendFiles(downloads);
  out += fmt::format("Total: {} in {}, {}\n", countOf(accounts.size(), "account", "accounts"),
                     countOf(fileCount, "file", "files"), vantel::formatBytes(total));
  std::fwrite(out.data(), 1, out.size(), stdout);
  return vantel::flushStandardOutput() ? vantel::kExitSuccess : vantel::kExitFailure;
}

// Says on stderr why there are no accounts.
void explainNoAccounts() {
  auto read = vantelkit::MailAttachmentsScanner::readMailAccounts();
  if (!read) {
    fmt::print(stderr, "vantel: no mail accounts: {}\n", read.error()->localizedDescription());
  } else {
    fmt::print(stderr, "vantel: no mail accounts in {}\n",
               vantel::escapedForTerminal(vantelkit::MailAttachmentsScanner::databasePath()));
  }
}

int runMail(const MailOptions& options) {
  if (options.home) vantelkit::platform::Paths::setHomeOverride(*options.home);
  vantel::pauseEveryListing(options.pauseMilliseconds);
  auto procedure = std::make_shared<vantelkit::MailAttachmentsProcedure>();
  vantelkit::ProcedureQueue queue;
  queue.addOperation(procedure);
  {
    // Ctrl-C ends the scan early; what it found so far is printed, marked partial.
    vantel::CancelOnInterrupt cancelling([procedure] { procedure->cancel(); });
    queue.waitUntilAllOperationsAreFinished(365.0 * 24 * 3600);
  }
  const bool interrupted = procedure->isCancelled() || vantelkit::platform::InterruptSignals::received();
  auto output = procedure->successValue();
  if (!output && interrupted) {
    // A cancelled procedure keeps its output pending; what it found is in its accessors.
    output.emplace();
    for (const auto& [name, files] : procedure->results()) output->attachments.push_back({name, files});
    output->downloads = procedure->downloads();
  }
  if (!output) {
    fmt::print(stderr, "vantel: the mail attachments could not be collected\n");
    return vantel::kExitFailure;
  }
  const auto accountList = procedure->accounts();
  if (accountList.empty() && !interrupted) explainNoAccounts();

  std::vector<AccountReport> accounts;
  for (const auto& account : accountList) {
    AccountReport report{account.name, account.identifiers, {}, 0};
    for (const auto& item : output->attachments) {
      if (item.name == account.name) report.attachments = item.files;
    }
    sortLargestFirst(report.attachments);
    report.size = totalSize(report.attachments);
    accounts.push_back(std::move(report));
  }
  std::sort(accounts.begin(), accounts.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  auto downloads = output->downloads;
  sortLargestFirst(downloads);
  const auto unreadable = procedure->unreadable();
  const int status =
      options.json ? printJson(accounts, downloads, !interrupted, unreadable) : printText(accounts, downloads);
  if (status != vantel::kExitSuccess) return vantel::reportInterruption(interrupted, status);
  return vantel::reportUnreadable(unreadable, interrupted);
}

vantel::CommandRegistration registration{"mail", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<MailOptions>();
  auto* command = app.add_subcommand(
      "mail", "Mail accounts with their attachment files, and the mail downloads, largest first");
  command->add_option("--home", options->home, "Folder to use as the user's home");
  command->add_flag("--json", options->json, "Machine-readable output");
  vantel::addPauseOption(*command, options->pauseMilliseconds);
  command->callback([options, &exitCode] { exitCode = runMail(*options); });
}};

}  // namespace

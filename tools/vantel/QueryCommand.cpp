// vantel query PREDICATE [--scope DIR ...] [--hidden] [--json]: the files and folders that a
// metadata query finds below the scopes (the home folder by default), largest first, as the
// library's own index answers it: the inside of bundles is not searched, nor are hidden
// folders unless --hidden asks for them.
#include <fmt/core.h>

#include <cstdio>
#include <iterator>

#include "Command.h"
#include "TextOutput.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/metadata/MetadataQuery.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/InterruptSignals.h"
#include "vantelkit/platform/NotificationCenter.h"
#include "vantelkit/platform/Paths.h"

namespace {

using vantelkit::MetadataItem;

struct QueryOptions {
  std::string predicate;
  std::vector<std::string> scopes;
  bool json = false;
  bool hidden = false;
  std::vector<std::string> first;  // predicates run before this one, sharing its walk
  int pauseMilliseconds = 0;
};

std::string pathOf(const MetadataItem& item) {
  auto value = item.valueForAttribute("kMDItemPath");
  const auto* text = value ? std::get_if<std::string>(&*value) : nullptr;
  return text ? *text : std::string();
}

std::int64_t sizeOf(const MetadataItem& item) {
  auto value = item.valueForAttribute("kMDItemFSSize");
  const auto* size = value ? std::get_if<std::int64_t>(&*value) : nullptr;
  return size ? *size : 0;
}

// Runs one query over scopes until it has gathered, or Ctrl-C ended it early.
std::shared_ptr<vantelkit::MetadataQuery> gatherOnce(const vantelkit::MetadataPredicate& predicate,
                                                     const std::vector<std::string>& scopes, bool hidden) {
  auto query = vantelkit::MetadataQuery::make();
  query->setPredicate(predicate);
  query->setSearchScopes(scopes);
  query->setSortDescriptors({{"kMDItemFSSize", false}});
  query->setSearchOptions({.entersHiddenFolders = hidden});
  bool finished = false;
  auto& center = vantelkit::platform::NotificationCenter::defaultCenter();
  auto token = center.addObserver(std::string(vantelkit::MetadataQuery::didFinishGatheringNotification),
                                  [&finished, query](const vantelkit::platform::Notification& notification) {
                                    const auto* sender =
                                        std::any_cast<std::shared_ptr<vantelkit::MetadataQuery>>(&notification.object);
                                    if (sender && *sender == query) finished = true;
                                  });
  // After Ctrl-C during an earlier query, this one ends at once, with nothing found.
  if (vantelkit::platform::InterruptSignals::received()) query->cancel();
  vantelkit::DispatchQueue::main()->async([query] { query->startQuery(); });
  {
    // Ctrl-C ends the gathering early; what it found so far is printed, marked partial.
    vantel::CancelOnInterrupt cancelling([query] { query->cancel(); });
    vantelkit::MainQueue::runUntil([&finished] { return finished; }, 365.0 * 24 * 3600);
  }
  center.removeObserver(token);
  return query;
}

int runQuery(const QueryOptions& options) {
  auto parsed = vantelkit::MetadataPredicate::parse(options.predicate);
  if (const auto* error = parsed.errorAs<vantelkit::PredicateParseError>()) {
    fmt::print(stderr, "vantel query: the predicate does not parse: {}\n  {}\n  {:>{}}\n",
               error->localizedDescription(), vantel::escapedForTerminal(options.predicate), "^", error->position() + 1);
    return vantel::kExitUsage;
  }
  std::vector<std::string> scopes;
  if (options.scopes.empty()) scopes.push_back(vantelkit::platform::Paths::home());
  for (const auto& scope : options.scopes) {
    auto target = vantel::resolveScanTarget(scope);
    if (!target) return vantel::kExitFailure;
    scopes.push_back(target->url.path());
  }

  std::vector<vantelkit::MetadataPredicate> firsts;
  for (const auto& text : options.first) {
    auto first = vantelkit::MetadataPredicate::parse(text);
    if (!first) {
      fmt::print(stderr, "vantel query: the predicate given to --first does not parse: {}\n",
                 first.error()->localizedDescription());
      return vantel::kExitUsage;
    }
    firsts.push_back(*first);
  }

  vantel::pauseEveryListing(options.pauseMilliseconds);
  // Queries asked for before this one run first, in turn, and share the index's walk with it.
  for (const auto& first : firsts) gatherOnce(first, scopes, options.hidden)->stopQuery();
  auto query = gatherOnce(*parsed, scopes, options.hidden);
  query->stopQuery();
  const auto results = query->results();
  const bool interrupted = !query->isComplete() || vantelkit::platform::InterruptSignals::received();
  const auto unreadable = query->unreadable();

  if (options.json) {
    vantelkit::JsonWriter json(vantel::standardOutputSink());
    json.beginObject();
    json.key("version");
    json.value(std::int64_t{1});
    json.key("complete");
    json.value(!interrupted);
    json.key("results");
    json.beginArray();
    for (const auto& item : results) {
      json.beginObject();
      json.key("path");
      json.value(pathOf(*item));
      json.key("size");
      json.value(sizeOf(*item));
      json.endObject();
    }
    json.endArray();
    vantel::writeUnreadableJson(json, unreadable);
    json.endObject();
    // The document first, then its one newline.
    bool written = json.flush();
    written = std::fputc('\n', stdout) != EOF && written;
    written = vantel::flushStandardOutput() && written;
    if (!written) return vantel::reportInterruption(interrupted, vantel::kExitFailure);
    return vantel::reportUnreadable(unreadable, interrupted);
  }
  std::string out;
  out.reserve(1 << 16);
  for (const auto& item : results) {
    fmt::format_to(std::back_inserter(out), "{}\t", sizeOf(*item));
    vantel::appendEscapedForTerminal(out, pathOf(*item));
    out += '\n';
    if (out.size() >= (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  // A failed write is reported once, with the system's reason, when the tool exits.
  if (!vantel::flushStandardOutput()) return vantel::reportInterruption(interrupted, vantel::kExitFailure);
  return vantel::reportUnreadable(unreadable, interrupted);
}

vantel::CommandRegistration registration{"query", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<QueryOptions>();
  auto* command = app.add_subcommand(
      "query",
      "Files and folders that match a metadata predicate, largest first, e.g. "
      "\"_kMDItemFileName LIKE[cd] '*.pkg'\" or \"kMDItemFSSize > 100000000\"");
  command->add_option("PREDICATE", options->predicate,
                      "Predicate on _kMDItemFileName, kMDItemFSName, kMDItemDisplayName, kMDItemPath, "
                      "kMDItemFSSize, kMDItemContentModificationDate")
      ->required();
  command->add_option("--scope", options->scopes, "Folder to search (repeatable; default: the home folder)");
  command->add_flag("-H,--hidden", options->hidden,
                    "Search hidden folders too (those whose names start with \".\"), and list them");
  command->add_flag("--json", options->json,
                    "Machine-readable output: {\"version\":1,\"complete\":true,\"results\":[{path,size}],\"unreadable\":[{path,error}]}");
  command->add_option("--first", options->first,
                      "Predicate run before this one, its results dropped (repeatable; for measuring queries that share a walk)")
      ->group("");
  vantel::addPauseOption(*command, options->pauseMilliseconds);
  command->callback([options, &exitCode] { exitCode = runQuery(*options); });
}};

}  // namespace

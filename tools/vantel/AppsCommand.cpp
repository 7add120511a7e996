// vantel apps [--home DIR] [--root DIR] [--layout xdg|document|auto] [--json] [--app NAME-OR-ID]
// [--leftovers]: the application inventory. In the document layout: every application found
// in the application folders and the user's folders, with its version, identifier, bundle
// size and the support files attributed to it, each with the reason it was attributed (the
// name or bundle identifier found in its file name). In the xdg layout: every application of
// the desktop entries, with what it keeps and the evidence of each match, and the leftovers
// no application owns (LinuxApps.cpp). Reads only.
#include <fmt/core.h>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "Command.h"
#include "LinuxApps.h"
#include "ScannerProgressLine.h"
#include "TextOutput.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/applications/ApplicationScanner.h"
#include "vantelkit/applications/SupportFileMatcher.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/InterruptSignals.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/TextCase.h"

namespace {

using vantelkit::ApplicationItem;
using vantelkit::ApplicationResourceGroup;
using vantelkit::BundleInfo;
using vantelkit::SupportFileMatcher;
using ItemPointer = std::shared_ptr<ApplicationItem>;
using ResourcePointer = std::shared_ptr<ApplicationResourceGroup::Resource>;
using Unreadable = vantelkit::ApplicationScanner::Unreadable;

constexpr int kJsonVersion = 1;

struct AppsOptions {
  std::optional<std::string> home;
  std::optional<std::string> root;
  std::optional<std::string> app;
  std::string layout = "auto";
  bool json = false;
  bool leftovers = false;
  int pauseMilliseconds = 0;
};

// Why a resource belongs to its application.
struct Evidence {
  // "bundle" for the application's own bundle copies, else "name" or "identifier".
  std::string kind;
  // The text found in the file name, as the bundle spells it.
  std::string text;
  // The bundle that text belongs to: the application itself or one nested in it.
  const BundleInfo* bundle = nullptr;
};

std::string versionText(const BundleInfo& info) {
  if (info.version.shortVersionString) return *info.version.shortVersionString;
  return fmt::format("{}.{}.{}", info.version.major, info.version.minor, info.version.maintenance);
}

std::vector<BundleInfo> bundlesOf(const ApplicationItem& item) {
  std::vector<BundleInfo> bundles{item.bundleInfo};
  bundles.insert(bundles.end(), item.childApplications.begin(), item.childApplications.end());
  return bundles;
}

// The reason the matching gave for a resource: the same rule, asked again of its name.
Evidence evidenceFor(const ApplicationResourceGroup& group, const ApplicationResourceGroup::Resource& resource,
                     const SupportFileMatcher& matcher, const std::vector<BundleInfo>& bundles) {
  if (group.category == ApplicationResourceGroup::Category::binaries) {
    return {"bundle", bundles.front().identifier, &bundles.front()};
  }
  auto match = matcher.match(resource.name);
  if (!match) return {"unknown", {}, nullptr};
  const BundleInfo& bundle = bundles.at(match->bundleIndex);
  const bool byName = match->kind == SupportFileMatcher::Match::Kind::name;
  return {std::string(SupportFileMatcher::kindName(match->kind)), byName ? bundle.name : bundle.identifier, &bundle};
}

// By path; the binaries keep their order, the bundle that was kept first and its copies after.
std::vector<ResourcePointer> sortedResources(const ApplicationResourceGroup& group) {
  std::vector<ResourcePointer> resources = group.files;
  std::erase(resources, nullptr);
  if (group.category == ApplicationResourceGroup::Category::binaries) return resources;
  std::stable_sort(resources.begin(), resources.end(),
                   [](const ResourcePointer& a, const ResourcePointer& b) { return a->url.path() < b->url.path(); });
  return resources;
}

// By name, then by path: two runs over the same folders list the same applications in the
// same order.
std::vector<ItemPointer> sortedApplications(const vantelkit::ApplicationItemSet& set) {
  std::vector<ItemPointer> items(set.begin(), set.end());
  std::erase(items, nullptr);
  std::sort(items.begin(), items.end(), [](const ItemPointer& a, const ItemPointer& b) {
    if (a->bundleInfo.name != b->bundleInfo.name) return a->bundleInfo.name < b->bundleInfo.name;
    return a->url().path() < b->url().path();
  });
  return items;
}

bool selected(const ApplicationItem& item, const std::string& wanted) {
  const std::string lowered = vantelkit::platform::lowercased(wanted);
  return vantelkit::platform::lowercased(item.bundleInfo.name) == lowered ||
         vantelkit::platform::lowercased(item.identifier()) == lowered;
}

void writeApplicationJson(vantelkit::JsonWriter& json, const ApplicationItem& item, const Unreadable& unreadable) {
  const auto bundles = bundlesOf(item);
  const SupportFileMatcher matcher(bundles);
  json.beginObject();
  json.key("name");
  json.value(item.bundleInfo.name);
  json.key("identifier");
  json.value(item.identifier());
  json.key("path");
  json.value(item.url().path());
  json.key("version");
  json.value(versionText(item.bundleInfo));
  json.key("bundleSize");
  json.value(item.binaries->totalSize());
  json.key("totalSize");
  json.value(item.totalSize());
  json.key("macAppStore");
  json.value(item.isMacAppStore());
  json.key("childApplications");
  json.beginArray();
  for (const auto& child : item.childApplications) {
    json.beginObject();
    json.key("name");
    json.value(child.name);
    json.key("identifier");
    json.value(child.identifier);
    json.endObject();
  }
  json.endArray();
  json.key("groups");
  json.beginArray();
  for (const auto& group : item.allResources()) {
    if (!group) continue;
    json.beginObject();
    json.key("category");
    json.value(ApplicationResourceGroup::rawValue(group->category));
    json.key("name");
    json.value(ApplicationResourceGroup::localizedName(group->category));
    json.key("size");
    json.value(group->totalSize());
    json.key("resources");
    json.beginArray();
    for (const auto& resource : sortedResources(*group)) {
      const Evidence evidence = evidenceFor(*group, *resource, matcher, bundles);
      json.beginObject();
      json.key("name");
      json.value(resource->name);
      json.key("path");
      json.value(resource->url.path());
      bool itself = false;
      const auto* problem = vantel::unreadableAt(resource->url.path(), unreadable, itself);
      json.key("size");
      if (itself && resource->size == 0) {
        json.null();
      } else {
        json.value(resource->size);
      }
      if (problem) {
        json.key("error");
        json.value(problem->reason());
      }
      json.key("type");
      json.value(vantelkit::FileNode::nodeTypeName(resource->type));
      json.key("matchedBy");
      json.beginObject();
      json.key("kind");
      json.value(evidence.kind);
      json.key("text");
      json.value(evidence.text);
      json.key("application");
      json.value(evidence.bundle ? std::string_view(evidence.bundle->identifier) : std::string_view());
      json.endObject();
      json.endObject();
    }
    json.endArray();
    json.endObject();
  }
  json.endArray();
  json.endObject();
}

bool printJson(const std::vector<ItemPointer>& items, const Unreadable& unreadable, bool complete) {
  vantelkit::JsonWriter json(vantel::standardOutputSink());
  json.beginObject();
  json.key("version");
  json.value(std::int64_t{kJsonVersion});
  json.key("complete");
  json.value(complete);
  json.key("applications");
  json.beginArray();
  for (const auto& item : items) writeApplicationJson(json, *item, unreadable);
  json.endArray();
  vantel::writeUnreadableJson(json, unreadable);
  json.endObject();
  // The writer buffers: the document goes out first, then its one newline.
  const bool written = json.flush();
  return std::fputc('\n', stdout) != EOF && vantel::flushStandardOutput() && written;
}

std::string evidenceText(const Evidence& evidence, const ApplicationItem& item) {
  if (evidence.kind == "bundle") return "the application bundle";
  if (!evidence.bundle) return "no recorded reason";
  std::string text = fmt::format("{} \"{}\"", evidence.kind, vantel::escapedForTerminal(evidence.text));
  if (evidence.bundle->identifier != item.identifier()) {
    text += fmt::format(" of the nested {}", vantel::escapedForTerminal(evidence.bundle->name));
  }
  return text;
}

void appendApplicationText(std::string& out, const ApplicationItem& item, const Unreadable& unreadable) {
  const auto bundles = bundlesOf(item);
  const SupportFileMatcher matcher(bundles);
  out += fmt::format("{} {}  {}{}\n", vantel::escapedForTerminal(item.bundleInfo.name), vantel::escapedForTerminal(versionText(item.bundleInfo)),
                     vantel::escapedForTerminal(item.identifier()), item.isMacAppStore() ? "  (Mac App Store)" : "");
  out += fmt::format("  bundle {}, total {}\n", vantel::formatBytes(item.binaries->totalSize()),
                     vantel::formatBytes(item.totalSize()));
  for (const auto& child : item.childApplications) {
    out += fmt::format("  contains {}  {}\n", vantel::escapedForTerminal(child.name), vantel::escapedForTerminal(child.identifier));
  }
  for (const auto& group : item.allResources()) {
    if (!group || group->files.empty()) continue;
    out += fmt::format("  {:<24} {:>10}\n", ApplicationResourceGroup::localizedName(group->category),
                       vantel::formatBytes(group->totalSize()));
    for (const auto& resource : sortedResources(*group)) {
      // Marked as map does: "!" when part of it could not be read, "?" for a size not known at all.
      bool itself = false;
      const bool marked = vantel::unreadableAt(resource->url.path(), unreadable, itself) != nullptr;
      const std::string size = itself && resource->size == 0 ? std::string("?") : vantel::formatBytes(resource->size);
      out += fmt::format("    {:>10}  {}{}  ({})\n", size, marked ? "!" : "", vantel::escapedForTerminal(resource->url.path()),
                         evidenceText(evidenceFor(*group, *resource, matcher, bundles), item));
    }
  }
}

bool printText(const std::vector<ItemPointer>& items, const Unreadable& unreadable) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += '\n';
    appendApplicationText(out, *items[i], unreadable);
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return vantel::flushStandardOutput();
}

using ProgressLine = vantel::ScannerProgressLine<vantelkit::ApplicationScannerListener>;

int runApps(const AppsOptions& options) {
  if (options.root) vantelkit::platform::Paths::setRootOverride(*options.root);
  if (options.home) vantelkit::platform::Paths::setHomeOverride(*options.home);
  vantel::pauseEveryListing(options.pauseMilliseconds);
  using vantelkit::platform::Paths;
  const auto layout = options.layout == "auto" ? Paths::automaticLayout() : Paths::parseLayout(options.layout).value();
  if (options.leftovers && layout != Paths::Layout::xdg) {
    fmt::print(stderr, "vantel apps: --leftovers needs the xdg layout (this home and root have the document layout)\n");
    return vantel::kExitUsage;
  }
  if (layout == Paths::Layout::xdg) {
    return vantel::runLinuxApps({.app = options.app, .json = options.json, .leftoversOnly = options.leftovers});
  }
  auto scanner = vantelkit::ApplicationScanner::shared();
  auto progress = std::make_shared<ProgressLine>(vantel::stderrIsTerminal());
  scanner->addListener(progress);
  scanner->start();
  {
    // Ctrl-C ends the scan early; what it found so far is printed, marked partial.
    vantel::CancelOnInterrupt cancelling([scanner] { scanner->cancel(); });
    vantelkit::MainQueue::runUntil([&progress] { return progress->finished; }, 365.0 * 24 * 3600);
  }
  scanner->removeListener(progress);
  const bool interrupted = scanner->wasCancelled() || vantelkit::platform::InterruptSignals::received();
  auto items = sortedApplications(scanner->applications());
  if (options.app) {
    std::erase_if(items, [&](const ItemPointer& item) { return !selected(*item, *options.app); });
    if (items.empty()) {
      fmt::print(stderr, "vantel apps: no application is named or identified as \"{}\"\n", vantel::escapedForTerminal(*options.app));
      return vantel::reportInterruption(interrupted, vantel::kExitFailure);
    }
  }
  if (items.empty()) fmt::print(stderr, "vantel apps: no applications found\n");
  // Everything the scan could not read, also with --app: the inventory as a whole is short of it.
  const auto unreadable = scanner->unreadable();
  // A failed write is reported once, with the system's reason, when the tool exits.
  const bool written = options.json ? printJson(items, unreadable, !interrupted) : printText(items, unreadable);
  if (!written) return vantel::reportInterruption(interrupted, vantel::kExitFailure);
  return vantel::reportUnreadable(unreadable, interrupted);
}

vantel::CommandRegistration registration{"apps", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<AppsOptions>();
  auto* command = app.add_subcommand("apps", "List the installed applications with the support files each left "
                                             "on the disk, and why each file was attributed to it");
  command->add_option("--home", options->home, "Folder to use as the user's home");
  command->add_option("--root", options->root, "Folder to use as the system root (\"/Applications\" becomes ROOT/Applications)");
  command->add_option("--app", options->app,
                      "Only the application with this name or bundle identifier (any case); in the xdg layout, "
                      "this desktop ID, name or executable")
      ->excludes(command->add_flag("--leftovers", options->leftovers,
                                   "Only what no installed application owns, with the reason (xdg layout)"));
  command->add_option("--layout", options->layout,
                      "Where applications live: xdg (desktop entries and the XDG folders), document (bundles "
                      "and Library folders) or auto (default: document when the home or root has the Library "
                      "folders, else xdg)")
      ->check(CLI::IsMember({"xdg", "document", "auto"}));
  command->add_flag("--json", options->json, "Machine-readable output");
  vantel::addPauseOption(*command, options->pauseMilliseconds);
  command->callback([options, &exitCode] { exitCode = runApps(*options); });
}};

}  // namespace

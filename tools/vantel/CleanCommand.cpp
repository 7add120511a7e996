// vantel clean [--home DIR] [--root DIR] [--layout xdg|document|auto] [--json]: one clean scan
// of the home and the system folders, then the nine groups with their sizes and largest
// items, each with the reason it may go. Reads only.
#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

#include "Command.h"
#include "ScannerProgressLine.h"
#include "TextOutput.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "ScanTarget.h"
#include "vantelkit/clean/CleanScanner.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/InterruptSignals.h"
#include "vantelkit/platform/Paths.h"

namespace {

using vantelkit::CleanScanGroup;
using vantelkit::CleanScanItem;
using ItemPointer = std::shared_ptr<CleanScanItem>;

// Items shown per group and children per container in the text output.
constexpr std::size_t kShownItems = 5;
constexpr int kJsonVersion = 1;

struct CleanOptions {
  std::optional<std::string> home;
  std::optional<std::string> root;
  std::string layout = "auto";
  int idleDays = 30;
  bool json = false;
  bool diskUsage = false;
  bool timings = false;
  int pauseMilliseconds = 0;
};

// Seconds each step of the scan ran, by procedure name, for --timings.
class StepTimes {
 public:
  void observe(vantelkit::Procedure& procedure) {
    const std::string name = procedure.name();
    procedure.addWillExecuteBlockObserver([this, name](vantelkit::Procedure&) {
      std::lock_guard lock(_mutex);
      _started[name] = Clock::now();
    });
    procedure.addDidFinishBlockObserver([this, name](vantelkit::Procedure&, const vantelkit::ErrorPtr&) {
      std::lock_guard lock(_mutex);
      if (auto found = _started.find(name); found != _started.end()) {
        _seconds.emplace_back(name, std::chrono::duration<double>(Clock::now() - found->second).count());
      }
    });
  }
  void print() const {
    std::lock_guard lock(_mutex);
    for (const auto& [name, seconds] : _seconds) fmt::print(stderr, "{:>9.3f} s  {}\n", seconds, name);
  }

 private:
  using Clock = std::chrono::steady_clock;
  mutable std::mutex _mutex;
  std::map<std::string, Clock::time_point> _started;       // guarded by _mutex
  std::vector<std::pair<std::string, double>> _seconds;    // guarded by _mutex, in finishing order
};

using Unreadable = vantelkit::CleanScanner::Unreadable;

std::string itemPath(const CleanScanItem& item) { return item.file ? item.file->url().path() : std::string(); }

// What of the item could not be read, or null (see vantel::unreadableAt).
const vantelkit::DiskScanResult::UnreadableEntry* unreadablePart(const CleanScanItem& item, const Unreadable& unreadable,
                                                                 bool& itself) {
  itself = false;
  return item.file ? vantel::unreadableAt(itemPath(item), unreadable, itself) : nullptr;
}
std::string itemName(const CleanScanItem& item) { return item.name().value_or(std::string()); }

// Largest first, then by path, then by name (containers without a file), so that two runs
// over the same folders list the same items in the same order.
std::vector<ItemPointer> sortedItems(std::vector<ItemPointer> items) {
  std::erase(items, nullptr);
  std::sort(items.begin(), items.end(), [](const ItemPointer& a, const ItemPointer& b) {
    if (a->size != b->size) return a->size > b->size;
    const std::string pathA = itemPath(*a);
    const std::string pathB = itemPath(*b);
    if (pathA != pathB) return pathA < pathB;
    return itemName(*a) < itemName(*b);
  });
  return items;
}

std::uint64_t totalSize(const std::vector<ItemPointer>& items) {
  std::uint64_t total = 0;
  for (const auto& item : items) total += item->size;
  return total;
}

std::int64_t asSigned(std::uint64_t bytes) {
  return bytes > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(bytes);
}

void writeItemJson(vantelkit::JsonWriter& json, const CleanScanItem& item, const Unreadable& unreadable) {
  json.beginObject();
  json.key("name");
  json.value(itemName(item));
  if (item.file) {
    json.key("path");
    json.value(item.file->url().path());
  }
  bool itself = false;
  const auto* problem = unreadablePart(item, unreadable, itself);
  json.key("size");
  if (itself && item.size == 0) {
    json.null();
  } else {
    json.value(asSigned(item.size));
  }
  if (problem) {
    json.key("error");
    json.value(problem->reason());
  }
  if (item.reason) {
    json.key("reason");
    json.value(*item.reason);
  }
  json.key("children");
  json.beginArray();
  for (const auto& child : sortedItems(item.children)) writeItemJson(json, *child, unreadable);
  json.endArray();
  json.endObject();
}

bool printJson(const vantelkit::CleanScanner::Groups& groups, const Unreadable& unreadable, bool complete,
               vantelkit::platform::Paths::Layout layout) {
  vantelkit::JsonWriter json(vantel::standardOutputSink());
  json.beginObject();
  json.key("version");
  json.value(std::int64_t{kJsonVersion});
  json.key("complete");
  json.value(complete);
  json.key("layout");
  json.value(std::string(vantelkit::platform::Paths::layoutName(layout)));
  json.key("groups");
  json.beginArray();
  for (CleanScanGroup group : vantelkit::allCleanScanGroups) {
    std::vector<ItemPointer> items;
    if (auto found = groups.find(group); found != groups.end()) items.assign(found->second.begin(), found->second.end());
    items = sortedItems(std::move(items));
    json.beginObject();
    json.key("group");
    json.value(vantelkit::rawValue(group));
    json.key("name");
    json.value(vantelkit::localizedName(group));
    json.key("size");
    json.value(asSigned(totalSize(items)));
    json.key("items");
    json.beginArray();
    for (const auto& item : items) writeItemJson(json, *item, unreadable);
    json.endArray();
    json.endObject();
  }
  json.endArray();
  vantel::writeUnreadableJson(json, unreadable);
  json.endObject();
  const bool written = json.flush();
  std::fputc('\n', stdout);
  return vantel::flushStandardOutput() && written;
}

void appendItemLines(std::string& out, const std::vector<ItemPointer>& items, const Unreadable& unreadable, int depth) {
  const std::string indent(static_cast<std::size_t>(4 * depth), ' ');
  for (std::size_t k = 0; k < items.size() && k < kShownItems; ++k) {
    const auto& item = *items[k];
    std::string label = vantel::escapedForTerminal(itemName(item));
    // A matched item is named after its application; its own name says where it is.
    if (item.file && itemName(item).find(item.file->name()) == std::string::npos) label += " (" + vantel::escapedForTerminal(item.file->name()) + ")";
    // Marked as du and map do: "!" when part of it could not be read, "?" for a size not known at all.
    bool itself = false;
    const bool marked = unreadablePart(item, unreadable, itself) != nullptr;
    const std::string size = itself && item.size == 0 ? std::string("?") : vantel::formatBytes(asSigned(item.size));
    if (item.reason) label += " \u2014 " + vantel::escapedForTerminal(*item.reason);
    out += fmt::format("{}{:>10}  {}{}\n", indent, size, marked ? "!" : "", label);
    if (!item.children.empty()) appendItemLines(out, sortedItems(item.children), unreadable, depth + 1);
  }
  if (items.size() > kShownItems) out += fmt::format("{}{:>10}  ... and {} more\n", indent, "", items.size() - kShownItems);
}

bool printText(const vantelkit::CleanScanner::Groups& groups, const Unreadable& unreadable) {
  std::string out;
  std::uint64_t total = 0;
  for (CleanScanGroup group : vantelkit::allCleanScanGroups) {
    std::vector<ItemPointer> items;
    if (auto found = groups.find(group); found != groups.end()) items.assign(found->second.begin(), found->second.end());
    items = sortedItems(std::move(items));
    const std::uint64_t size = totalSize(items);
    total += size;
    out += fmt::format("{:<20} {:>10}  ({} {})\n", vantelkit::localizedName(group), vantel::formatBytes(asSigned(size)),
                       items.size(), items.size() == 1 ? "item" : "items");
    appendItemLines(out, items, unreadable, 1);
  }
  out += fmt::format("{:<20} {:>10}\n", "Total", vantel::formatBytes(asSigned(total)));
  std::fwrite(out.data(), 1, out.size(), stdout);
  return vantel::flushStandardOutput();
}

using ProgressLine = vantel::ScannerProgressLine<vantelkit::CleanScannerListener>;

int runClean(const CleanOptions& options) {
  if (options.root) vantelkit::platform::Paths::setRootOverride(*options.root);
  if (options.home) vantelkit::platform::Paths::setHomeOverride(*options.home);
  vantel::pauseEveryListing(options.pauseMilliseconds);
  using vantelkit::platform::Paths;
  const auto layout = options.layout == "auto" ? Paths::automaticLayout() : *Paths::parseLayout(options.layout);
  auto scanner = vantelkit::CleanScanner::shared();
  scanner->setMeasuresUsage(options.diskUsage);
  auto settings = scanner->settings();
  settings.layout = layout;
  settings.buildFolderIdleDays = options.idleDays;
  scanner->setSettings(std::move(settings));
  auto progress = std::make_shared<ProgressLine>(vantel::stderrIsTerminal());
  auto times = std::make_shared<StepTimes>();
  if (options.timings) scanner->setWillAddProcedureHandler([times](vantelkit::Procedure& step) { times->observe(step); });
  scanner->addListener(progress);
  const auto started = std::chrono::steady_clock::now();
  scanner->start();
  {
    // Ctrl-C ends the scan early; what it found so far is printed, marked partial.
    vantel::CancelOnInterrupt cancelling([scanner] { scanner->cancel(); });
    vantelkit::MainQueue::runUntil([&progress] { return progress->finished; }, 365.0 * 24 * 3600);
  }
  scanner->removeListener(progress);
  const bool interrupted = scanner->wasCancelled() || vantelkit::platform::InterruptSignals::received();
  scanner->setWillAddProcedureHandler({});
  if (options.timings) {
    times->print();
    fmt::print(stderr, "{:>9.3f} s  whole scan\n",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
  const auto groups = scanner->groups();
  const auto unreadable = scanner->unreadable();
  // A failed write is reported once, with the system's reason, when the tool exits.
  const bool written = options.json ? printJson(groups, unreadable, !interrupted, layout) : printText(groups, unreadable);
  if (!written) return vantel::reportInterruption(interrupted, vantel::kExitFailure);
  return vantel::reportUnreadable(unreadable, interrupted);
}

vantel::CommandRegistration registration{"clean", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<CleanOptions>();
  auto* command = app.add_subcommand("clean", "Find what can be removed: downloads, caches, logs, developer files, "
                                              "installers, disk images, large files and mail attachments");
  command->add_option("--home", options->home, "Folder to use as the user's home");
  command->add_option("--root", options->root, "Folder to use as the system root (\"/Library\" becomes ROOT/Library)");
  command->add_option("--layout", options->layout,
                      "Folders to search: xdg (a Linux desktop's), document (a \"Library\" folder in the home and "
                      "at the root) or auto (document when the home has Library/Caches or the like, else xdg)")
      ->check(CLI::IsMember({"auto", "xdg", "document"}))
      ->default_str("auto");
  command->add_option("--idle-days", options->idleDays,
                      "xdg: project build folders (node_modules, target, ...) count only when nothing inside "
                      "changed for DAYS days")
      ->check(CLI::Range(0, 100000))
      ->default_str("30")
      ->type_name("DAYS");
  command->add_flag("--json", options->json, "Machine-readable output");
  command->add_flag("--disk-usage", options->diskUsage,
                    "Sizes as the bytes allocated on disk (what removing would free) instead of logical sizes");
  command->add_flag("--timings", options->timings, "Print the seconds each step took on stderr")->group("");
  vantel::addPauseOption(*command, options->pauseMilliseconds);
  command->callback([options, &exitCode] { exitCode = runClean(*options); });
}};

}  // namespace

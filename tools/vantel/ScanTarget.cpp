#include "ScanTarget.h"

#include <fmt/core.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "Command.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/InterruptSignals.h"
#include "vantelkit/platform/Terminal.h"

namespace vantel {

std::string lexicallyNormal(std::string_view path) {
  const bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
      continue;
    }
    parts.push_back(part);
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '/';
    out += parts[i];
  }
  return out.empty() ? "." : out;
}

std::string ScanTarget::displayPath(const std::string& absolutePath) const {
  std::string base = url.path();
  if (absolutePath.size() < base.size() || absolutePath.compare(0, base.size(), base) != 0) return absolutePath;
  std::string_view rest = std::string_view(absolutePath).substr(base.size());
  if (rest.empty()) return display;
  if (rest.front() == '/') rest.remove_prefix(1);
  else if (base != "/") return absolutePath;
  if (display == "/") return "/" + std::string(rest);
  return display + "/" + std::string(rest);
}

std::optional<ScanTarget> resolveScanTarget(const std::string& path) {
  auto url = vantelkit::FileURL::fileURLWithPath(path, true);
  auto status = vantelkit::platform::pathStatus(url.path(), true);
  if (status.error) {
    fmt::print(stderr, "vantel: {}: {}\n", escapedForTerminal(path), status.error.message());
    return std::nullopt;
  }
  if (status.type != vantelkit::platform::FileObjectType::directory) {
    fmt::print(stderr, "vantel: {}: not a folder\n", escapedForTerminal(path));
    return std::nullopt;
  }
  return ScanTarget{url, path, lexicallyNormal(path)};
}

void WalkChoices::addOptions(CLI::App& command) {
  command.add_flag("-x,--one-file-system", oneFileSystem,
                   "Stay on the file system of PATH: folders on other devices are shown but not read");
  command.add_flag("--cross-pseudo", crossPseudo,
                   "Also read /proc, /sys, /dev, /run and kernel file systems mounted below PATH (skipped by default)");
  command.add_option("--exclude", excludes,
                     "Leave out entries whose name, or path below PATH, matches GLOB; repeat for more "
                     "(--exclude '*.o' --exclude .git)")
      ->type_name("GLOB")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command.add_flag("--exclude-caches", excludeCaches, "Leave out the contents of folders holding a valid CACHEDIR.TAG");
  command.add_flag("--count-links", countLinks,
                   "Count a file with several hard links once per link (default: once per device and inode)");
}

vantelkit::DiskScanner::WalkOptions WalkChoices::options() const {
  vantelkit::DiskScanner::WalkOptions options;
  options.oneFileSystem = oneFileSystem;
  options.skipPseudoFileSystems = !crossPseudo;
  options.excludes = excludes;
  options.excludeCaches = excludeCaches;
  options.countHardLinksOnce = !countLinks;
  options.countOwnSizes = countOwnSizes;
  return options;
}

void ScannerTuning::addOptions(CLI::App& command) {
  command.add_option("--threads", threads, "Traversal threads (default: one per processor)")->group("");
  command.add_option("--fan-out", fanOut, "Fan-out rule: demand, slots or wide")->group("");
  command.add_option("--pause-per-folder", pauseMilliseconds, "Milliseconds to wait before listing each folder")
      ->group("");
}

namespace {

// Waits before each listing, for tests that interrupt a scan while it runs.
class PausingReader final : public vantelkit::platform::DirectoryReader {
 public:
  explicit PausingReader(int milliseconds)
      : _inner(vantelkit::platform::DirectoryReader::platformDefault()), _pause(milliseconds) {}
  Status list(const std::string& path, bool followLink, Visitor& visitor) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(_pause));
    return _inner->list(path, followLink, visitor);
  }

 private:
  std::shared_ptr<DirectoryReader> _inner;
  int _pause;
};

}  // namespace

void addPauseOption(CLI::App& command, int& milliseconds) {
  command.add_option("--pause-per-folder", milliseconds, "Milliseconds to wait before listing each folder")->group("");
}

void pauseEveryListing(int milliseconds) {
  if (milliseconds > 0) vantelkit::platform::DirectoryReader::setShared(std::make_shared<PausingReader>(milliseconds));
}

namespace {

// The middle of text cut out so that it fits in width columns (counting bytes, which is
// close enough for a progress line).
std::string fitted(const std::string& text, std::size_t width) {
  if (text.size() <= width) return text;
  if (width < 4) return text.substr(text.size() - width);
  std::size_t head = (width - 3) / 2;
  return text.substr(0, head) + "..." + text.substr(text.size() - (width - 3 - head));
}

}  // namespace

struct ScanRun::Progress {
  std::weak_ptr<vantelkit::DiskScanner> scanner;
  std::function<std::string(const vantelkit::DiskScanner&)> extra;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::size_t columns = 80;
  bool bytes = true;  // false when the scan reads no file sizes

  void show() {
    auto current = scanner.lock();
    if (!current) return;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto files = current->filesScanned();
    std::string line = fmt::format("{} files and folders", files);
    if (bytes) line += ", " + formatBytes(current->sizeSoFar());
    if (seconds > 0.5) line += fmt::format(", {:.0f}/s", static_cast<double>(files) / seconds);
    if (extra) line += ", " + extra(*current);
    std::string folder = escapedForTerminal(current->currentFolder());
    if (!folder.empty() && line.size() + 3 < columns) line += ": " + fitted(folder, columns - line.size() - 3);
    fmt::print(stderr, "\r{}\033[K", line);
    std::fflush(stderr);
  }
};

std::shared_ptr<vantelkit::DiskScanner> makeScanner(const ScannerTuning& tuning, const WalkChoices& walk,
                                                    vantelkit::DiskScanner::ProgressHandler handler) {
  std::shared_ptr<vantelkit::platform::DirectoryReader> reader;
  if (tuning.pauseMilliseconds > 0) reader = std::make_shared<PausingReader>(tuning.pauseMilliseconds);
  auto scanner = vantelkit::DiskScanner::make(std::move(handler), std::move(reader));
  scanner->setWalkOptions(walk.options());
  if (tuning.threads > 0) scanner->setMaxConcurrentTraversals(tuning.threads);
  if (tuning.fanOut == "demand") {
    scanner->setFanOut(vantelkit::DiskScanner::FanOut::onDemand);
  } else if (tuning.fanOut == "slots") {
    scanner->setFanOut(vantelkit::DiskScanner::FanOut::whileSlotsFree);
  } else if (tuning.fanOut == "wide") {
    scanner->setFanOut(vantelkit::DiskScanner::FanOut::wideParentsOnly);
  } else {
    fmt::print(stderr, "vantel: unknown fan-out rule {}\n", escapedForTerminal(tuning.fanOut));
    return nullptr;
  }
  return scanner;
}

ScanRun::ScanRun(const ScannerTuning& tuning, const WalkChoices& walk,
                 std::function<std::string(const vantelkit::DiskScanner&)> extraProgress) {
  vantelkit::DiskScanner::ProgressHandler handler;
  if (stderrIsTerminal()) {
    _progress = std::make_shared<Progress>();
    _progress->extra = std::move(extraProgress);
    _progress->columns = static_cast<std::size_t>(vantelkit::platform::terminalColumns());
    handler = [progress = _progress](double, bool) { progress->show(); };
  }
  _scanner = makeScanner(tuning, walk, std::move(handler));
  if (!_scanner) {
    // A scanner all the same, so that the object stays usable; ready() tells the caller.
    _scanner = vantelkit::DiskScanner::make();
    _ready = false;
  }
  if (_progress) _progress->scanner = _scanner;
}

int interruptedExitStatus() {
  const int status = vantelkit::platform::InterruptSignals::exitStatus();
  return status == 0 ? kExitInterrupted : status;
}

CancelOnInterrupt::CancelOnInterrupt(std::function<void()> cancel) {
  vantelkit::platform::InterruptSignals::setHandler(std::move(cancel));
}

CancelOnInterrupt::~CancelOnInterrupt() { vantelkit::platform::InterruptSignals::setHandler({}); }

int reportInterruption(bool interrupted, int status) {
  if (!interrupted) return status;
  // The whole result first, then the closing line.
  flushStandardOutput();
  fmt::print(stderr, "partial: interrupted\n");
  return interruptedExitStatus();
}

void ScanRun::guarded(const std::function<void()>& walk) {
  std::weak_ptr<vantelkit::DiskScanner> weak = _scanner;
  {
    CancelOnInterrupt cancelling([weak] {
      if (auto scanner = weak.lock()) scanner->cancel();
    });
    walk();
  }
  if (_progress) {
    fmt::print(stderr, "\r\033[K");
    std::fflush(stderr);
  }
}

std::shared_ptr<vantelkit::DiskScanResult> ScanRun::run(const ScanTarget& target,
                                                        vantelkit::DiskScanner::ScanRequest request) {
  std::shared_ptr<vantelkit::DiskScanResult> result;
  guarded([&] { result = _scanner->scan(target.url, std::move(request)); });
  _interrupted = vantelkit::platform::InterruptSignals::received() || !result->isComplete();
  return result;
}

std::shared_ptr<vantelkit::DiskMap> ScanRun::runMap(const ScanTarget& target,
                                                    vantelkit::DiskScanner::MapRequest request) {
  std::shared_ptr<vantelkit::DiskMap> map;
  if (_progress) _progress->bytes = request.choices.fileSizes;
  guarded([&] { map = _scanner->scanMap(target.url, std::move(request)); });
  _interrupted = vantelkit::platform::InterruptSignals::received() || !map->isComplete();
  return map;
}

int reportScanProblems(const ScanTarget& target, const vantelkit::DiskScanResult& result, bool interrupted) {
  return reportScanProblems(target, result.unreadableEntries(), interrupted);
}

int reportScanProblems(const ScanTarget& target, const std::vector<vantelkit::DiskScanResult::UnreadableEntry>& unreadable,
                       bool interrupted) {
  int status = kExitSuccess;
  // The whole result first, then the closing lines, as du does.
  flushStandardOutput();
  if (!unreadable.empty()) {
    std::int64_t folders = 0;
    for (const auto& entry : unreadable) folders += entry.isDirectory ? 1 : 0;
    std::int64_t files = static_cast<std::int64_t>(unreadable.size()) - folders;
    std::string what;
    if (folders > 0) what = countOf(folders, "folder");
    if (files > 0) what += (what.empty() ? "" : " and ") + countOf(files, "file");
    const auto& first = unreadable.front();
    fmt::print(stderr, "vantel: {} could not be read; first: {}: {}\n", what,
               escapedForTerminal(target.displayPath(first.path)), first.reason());
    status = kExitFailure;
  }
  return reportInterruption(interrupted, status);
}

const vantelkit::DiskScanResult::UnreadableEntry* unreadableAt(
    const std::string& path, const std::vector<vantelkit::DiskScanResult::UnreadableEntry>& unreadable, bool& itself) {
  itself = false;
  // Sorted by path: the path itself, then what lies below it, come first from its place on.
  auto at = std::lower_bound(unreadable.begin(), unreadable.end(), path,
                             [](const auto& entry, const std::string& key) { return entry.path < key; });
  for (; at != unreadable.end() && at->path.compare(0, path.size(), path) == 0; ++at) {
    if (at->path.size() == path.size()) {
      itself = true;
      return &*at;
    }
    if (at->path[path.size()] == '/') return &*at;
  }
  return nullptr;
}

void writeUnreadableJson(vantelkit::JsonWriter& json,
                         const std::vector<vantelkit::DiskScanResult::UnreadableEntry>& unreadable) {
  json.key("unreadable");
  json.beginArray();
  for (const auto& entry : unreadable) {
    json.beginObject();
    json.key("path");
    json.value(entry.path);
    json.key("error");
    json.value(entry.reason());
    json.endObject();
  }
  json.endArray();
}

int reportUnreadable(const std::vector<vantelkit::DiskScanResult::UnreadableEntry>& unreadable, bool interrupted) {
  const ScanTarget everywhere{vantelkit::FileURL::fileURLWithPath("/", true), "/", "/"};
  return reportScanProblems(everywhere, unreadable, interrupted);
}

bool numberOption(const std::optional<std::string>& text, const char* name, std::int64_t minimum,
                  std::optional<std::int64_t>& value) {
  if (!text) return true;
  auto number = parseWholeNumber(*text);
  if (!number || *number < minimum) {
    fmt::print(stderr, "vantel: {} must be a whole number \u2265 {}\n", name, minimum);
    return false;
  }
  value = number;
  return true;
}

}  // namespace vantel

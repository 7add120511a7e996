// vantel browse [PATH | --import FILE]: the disk map of a folder in a full-screen browser, as
// ncdu and gdu users know it, with a move to the trash that can be undone, a comparison with
// a saved map (--diff) and a progress screen that can stop the scan and browse what was found.
#include <fmt/core.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Command.h"
#include "SavedMap.h"
#include "ScanTarget.h"
#include "vantelkit/diskmap/DiskMapBrowser.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/InterruptSignals.h"
#include "vantelkit/platform/TextScreen.h"
#include "vantelkit/platform/Trash.h"

namespace {

using vantelkit::DiskMap;
using vantelkit::DiskMapBrowser;
using vantelkit::FileNode;
using vantelkit::platform::TextScreen;
using Index = DiskMap::Index;
using Style = TextScreen::Style;
using Key = TextScreen::Key;

struct BrowseOptions {
  std::string path;
  std::string importFile;
  std::string diffFile;
  bool readOnly = false;
  bool allowDelete = false;
  vantel::WalkChoices walk;
  vantel::ScannerTuning tuning;
};

// Set by the first SIGINT or SIGTERM (on the signal thread); the screen's loops look at it
// between keys.
std::atomic<bool> signalled{false};

const char* const kHelp[] = {
    "up, k / down, j       move the selection",
    "PgUp PgDn Home End    move by a page, to the first or the last",
    "Enter, right, l       open the selected folder",
    "left, Backspace, h    go to the folder above",
    "s  n  C  M            sort by size, name, item count, modified",
    "c                     sort by change (with --diff)",
    "                      (the same key again reverses the order)",
    "a                     disk usage / apparent size",
    ".                     show or hide hidden files",
    "e                     show or hide excluded folders",
    "i                     details of the selected entry",
    "r                     rescan",
    "d                     move the selected entry to the trash",
    "u                     what was moved to the trash; put it back",
    "D                     delete for good (with --allow-delete)",
    "?                     this help     q  quit",
    "Marks: ! unreadable  . partly read  > other file system",
    "^ kernel file system  < cache left out  H hard link  @ link",
};

std::string changeText(const DiskMapBrowser::Change& change) {
  using Kind = DiskMapBrowser::Change::Kind;
  switch (change.kind) {
    case Kind::same: return "";
    case Kind::appeared: return "new";
    case Kind::grew: return "+" + vantel::formatBytes(change.difference);
    case Kind::shrank: return "-" + vantel::formatBytes(-change.difference);
  }
  return "";
}

std::string timeText(std::optional<double> seconds, bool withTime) {
  if (!seconds) return "";
  const auto whole = static_cast<std::time_t>(std::floor(*seconds));
  std::tm local{};
  if (const std::tm* converted = std::localtime(&whole)) local = *converted;
  char text[32];
  std::strftime(text, sizeof text, withTime ? "%Y-%m-%d %H:%M" : "%Y-%m-%d", &local);
  return text;
}

std::string typeText(const DiskMap::Entry& entry) {
  switch (entry.nodeType()) {
    case FileNode::NodeType::directory: return "folder";
    case FileNode::NodeType::file: return "file";
    case FileNode::NodeType::link: return "symbolic link";
    case FileNode::NodeType::fifo: return "pipe";
    case FileNode::NodeType::socket: return "socket";
    case FileNode::NodeType::block: return "block device";
    case FileNode::NodeType::character: return "character device";
    default: return "unknown";
  }
}

// The tail of text that fits in width cells, with "..." before it when cut (paths are told
// apart by their ends).
std::string tailFitted(const std::string& text, int width) {
  if (TextScreen::cellsOf(text) <= width || width < 4) return text;
  std::size_t start = text.size();
  // Step back by whole UTF-8 characters.
  while (start > 0) {
    std::size_t previous = start - 1;
    while (previous > 0 && (static_cast<unsigned char>(text[previous]) & 0xC0) == 0x80) --previous;
    if (TextScreen::cellsOf(text.substr(previous)) > width - 3) break;
    start = previous;
  }
  return "..." + text.substr(start);
}

class BrowseSession {
 public:
  BrowseSession(TextScreen& screen, const BrowseOptions& options, vantel::ScanTarget target)
      : _screen(screen), _options(options), _target(std::move(target)),
        _trash(vantelkit::platform::Trash::platformDefault()) {}

  void setBefore(std::shared_ptr<DiskMap> before) { _before = std::move(before); }

  // Scans (or takes the imported map) and browses until quit, a signal or the terminal's
  // end (see hungUp(), interruptedByKey() and the signalled flag).
  void run(std::shared_ptr<DiskMap> imported) {
    std::shared_ptr<DiskMap> map = imported ? imported : scan();
    if (!map) return;
    install(map);
    while (!signalled) {
      draw();
      const int key = _screen.readKey(200);
      if (key == Key::noKey || key == Key::resized) continue;
      if (key == Key::closed) {
        _hungUp = true;
        return;
      }
      if (!handle(key)) return;
    }
  }

  bool hungUp() const { return _hungUp; }
  bool interruptedByKey() const { return _interruptKey; }
  const DiskMap* map() const { return _browser ? &_browser->map() : nullptr; }
  std::size_t trashedCount() const { return _browser ? _browser->trashed().size() : 0; }

 private:
  enum class Mode { browsing, help, details, confirmTrash, confirmDelete, confirmDeleteAgain, trashList, confirmRestore };

  // The scan of the target with a progress screen; Esc or Ctrl-C stops it and the partial
  // map is browsed. Null when the terminal went away or a signal came.
  std::shared_ptr<DiskMap> scan() {
    auto scanner = vantel::makeScanner(_options.tuning, _options.walk, [](double, bool) {});
    if (!scanner) return nullptr;
    std::shared_ptr<DiskMap> map;
    std::atomic<bool> done{false};
    vantelkit::DiskScanner::MapRequest request{.searchBundles = true};
    request.choices.namesInOrder = true;
    std::thread walker([&] {
      map = scanner->scanMap(_target.url, request);
      done.store(true, std::memory_order_release);
    });
    const auto start = std::chrono::steady_clock::now();
    bool stopping = false;
    while (!done.load(std::memory_order_acquire)) {
      drawProgress(*scanner, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                   stopping);
      const int key = _screen.readKey(100);
      if (key == Key::closed) _hungUp = true;
      if (key == Key::escape || key == Key::interrupt || key == Key::closed || signalled) {
        scanner->cancel();
        stopping = true;
      }
    }
    walker.join();
    if (_hungUp || signalled) return nullptr;
    return map;
  }

  void drawProgress(const vantelkit::DiskScanner& scanner, double seconds, bool stopping) {
    _screen.clear();
    const int columns = _screen.columns();
    const int width = std::min(columns - 2, 76);
    const int left = std::max(0, (columns - width) / 2);
    const int top = std::max(0, _screen.rows() / 2 - 4);
    const auto files = scanner.filesScanned();
    _screen.draw(top, left, " vantel browse: scanning ", Style::reverse, width);
    _screen.draw(top + 2, left + 1, tailFitted(vantel::escapedForTerminal(_target.display), width - 2), Style::bold,
                 width - 2);
    _screen.draw(top + 3, left + 1,
                 fmt::format("{} files and folders, {}{}", files, vantel::formatBytes(scanner.sizeSoFar()),
                             seconds > 0.5 ? fmt::format(", {:.0f}/s", static_cast<double>(files) / seconds) : ""),
                 Style::normal, width - 2);
    _screen.draw(top + 4, left + 1,
                 tailFitted(vantel::escapedForTerminal(scanner.currentFolder()), width - 2), Style::dim, width - 2);
    _screen.draw(top + 6, left + 1,
                 stopping ? "Stopping..." : "Esc or Ctrl-C: stop, and browse what was found so far", Style::normal,
                 width - 2);
    _screen.refresh();
  }

  void install(std::shared_ptr<DiskMap> map) {
    auto next = std::make_unique<DiskMapBrowser>(std::move(map));
    // Times come from the disk, so only for a map of the disk (an imported one may be of
    // another machine, or old).
    if (_options.importFile.empty()) {
      next->setModificationTimeSource([map = next->sharedMap().get()](Index entry) {
        return vantelkit::platform::fileModificationTimeNotFollowingLink(map->path(entry));
      });
    }
    if (_before) next->compareWith(*_before);
    if (_browser) {
      next->takeTrashedFrom(*_browser);
      next->setShowsDiskUsage(_browser->showsDiskUsage());
      next->setShowsHidden(_browser->showsHidden());
      next->setShowsExcluded(_browser->showsExcluded());
      // Sorting by the same key twice reverses it.
      if (next->sortKey() != _browser->sortKey()) next->sortBy(_browser->sortKey());
      if (next->sortReversed() != _browser->sortReversed()) next->sortBy(_browser->sortKey());
      next->openPath(_browser->map().relativePath(_browser->folder()));
    }
    _browser = std::move(next);
  }

  bool actionsAllowed() {
    if (_options.readOnly) {
      _message = "Read-only (--read-only): nothing is moved or deleted";
      return false;
    }
    if (!_options.importFile.empty()) {
      _message = "This map was read from a file: nothing is moved or deleted";
      return false;
    }
    return true;
  }

  std::string selectedDescription() {
    const Index entry = *_browser->selected();
    return fmt::format("{} ({})", vantel::escapedForTerminal(_target.displayPath(_browser->map().path(entry))),
                       vantel::formatBytes(_browser->measure(entry)));
  }

  // Answers false to quit.
  bool handle(int key) {
    _message.clear();
    if (key == Key::interrupt) {
      _interruptKey = true;
      return false;
    }
    switch (_mode) {
      case Mode::browsing: return handleBrowsing(key);
      case Mode::help:
      case Mode::details: _mode = Mode::browsing; return true;
      case Mode::confirmTrash:
        _mode = Mode::browsing;
        if (key == 'y' || key == 'Y') {
          auto moved = _browser->trashSelected(*_trash);
          _message = moved ? fmt::format("Moved {} to the trash (u to put it back)",
                                         vantel::escapedForTerminal(_target.displayPath(moved->item.originalPath)))
                           : moved.error()->localizedDescription();
        }
        return true;
      case Mode::confirmDelete:
        _mode = key == 'y' || key == 'Y' ? Mode::confirmDeleteAgain : Mode::browsing;
        return true;
      case Mode::confirmDeleteAgain:
        _mode = Mode::browsing;
        if (key == 'y' || key == 'Y') {
          auto removed = _browser->removeSelectedPermanently(*_trash);
          _message = removed ? fmt::format("Deleted {}", vantel::escapedForTerminal(_target.displayPath(*removed)))
                             : removed.error()->localizedDescription();
        }
        return true;
      case Mode::trashList: return handleTrashList(key);
      case Mode::confirmRestore:
        _mode = Mode::trashList;
        if (key == 'y' || key == 'Y') {
          auto restored = _browser->restore(trashListEntry(), *_trash);
          if (restored) {
            _message = fmt::format("Put back {}{}",
                                   vantel::escapedForTerminal(_target.displayPath(restored->item.originalPath)),
                                   restored->entry ? "" : " (r to rescan and see it)");
            _mode = Mode::browsing;
          } else {
            _message = restored.error()->localizedDescription();
          }
        }
        return true;
    }
    return true;
  }

  bool handleBrowsing(int key) {
    using Action = DiskMapBrowser::Action;
    switch (_browser->press(key)) {
      case Action::none: return true;
      case Action::quit:
      case Action::interrupt: return false;
      case Action::help: _mode = Mode::help; return true;
      case Action::details: _mode = Mode::details; return true;
      case Action::rescan: {
        if (!_options.importFile.empty()) {
          _message = "This map was read from a file: there is nothing to rescan";
          return true;
        }
        auto map = scan();
        if (_hungUp || signalled) return false;
        if (map) install(std::move(map));
        return true;
      }
      case Action::trash:
        if (actionsAllowed()) _mode = Mode::confirmTrash;
        return true;
      case Action::removePermanently:
        if (!actionsAllowed()) return true;
        if (!_options.allowDelete) {
          _message = "Deleting for good needs --allow-delete; d moves to the trash";
          return true;
        }
        _mode = Mode::confirmDelete;
        return true;
      case Action::restore:
        if (_browser->trashed().empty()) {
          _message = "Nothing was moved to the trash in this run";
          return true;
        }
        _listCursor = 0;
        _mode = Mode::trashList;
        return true;
    }
    return true;
  }

  // The list shows the newest first.
  std::size_t trashListEntry() const { return _browser->trashed().size() - 1 - _listCursor; }

  bool handleTrashList(int key) {
    const std::size_t count = _browser->trashed().size();
    if (key == Key::up || key == 'k') {
      if (_listCursor > 0) --_listCursor;
    } else if (key == Key::down || key == 'j') {
      if (_listCursor + 1 < count) ++_listCursor;
    } else if (key == Key::enter || key == 'y' || key == Key::right) {
      _mode = Mode::confirmRestore;
    } else if (key == Key::escape || key == 'q' || key == 'u' || key == Key::left) {
      _mode = Mode::browsing;
    }
    return true;
  }

  void draw() {
    _screen.clear();
    const int rows = _screen.rows();
    const int columns = _screen.columns();
    if (rows < 5 || columns < 30) {
      _screen.draw(0, 0, "Terminal too small", Style::normal, columns);
      _screen.refresh();
      return;
    }
    const DiskMap& map = _browser->map();
    _screen.draw(0, 0, " vantel browse ~ Use the arrow keys to navigate, press ? for help", Style::reverse, columns);
    // The folder, then how its entries are shown: "--- /path ---- [size, reversed] --".
    static const char* const sortNames[] = {"size", "name", "items", "modified", "change"};
    const std::string view = fmt::format(" [{}{}{}{}] --", sortNames[static_cast<int>(_browser->sortKey())],
                                         _browser->sortReversed() ? ", reversed" : "",
                                         _browser->showsDiskUsage() ? "" : ", apparent",
                                         _browser->showsHidden() ? "" : ", no hidden");
    const int viewCells = static_cast<int>(view.size());
    std::string header = "--- " + tailFitted(vantel::escapedForTerminal(_target.displayPath(map.path(_browser->folder()))),
                                             std::max(columns - viewCells - 6, 8)) + " ";
    const int used = TextScreen::cellsOf(header);
    if (used + viewCells < columns) header += std::string(static_cast<std::size_t>(columns - used - viewCells), '-');
    _screen.draw(1, 0, header + view, Style::normal, columns);
    const std::size_t page = static_cast<std::size_t>(rows - 3);
    _browser->setPageRows(page);
    drawRows(2, page, columns);
    drawStatus(rows - 1, columns);
    switch (_mode) {
      case Mode::browsing: break;
      case Mode::help: drawHelp(); break;
      case Mode::details: drawDetails(); break;
      case Mode::confirmTrash:
        drawBox("Move to the trash?", {selectedDescription(), "", "y: move it   any other key: no"});
        break;
      case Mode::confirmDelete:
        drawBox("Delete for good?", {selectedDescription(), "", "It will not go to the trash.",
                                      "y: go on   any other key: no"});
        break;
      case Mode::confirmDeleteAgain:
        drawBox("Really delete for good?",
                {selectedDescription(), "", "This cannot be undone.", "y: delete it   any other key: no"});
        break;
      case Mode::trashList: drawTrashList(); break;
      case Mode::confirmRestore: {
        const auto& trashed = _browser->trashed()[trashListEntry()];
        drawBox("Put back?", {vantel::escapedForTerminal(_target.displayPath(trashed.item.originalPath)), "",
                              "y: put it back   any other key: no"});
        break;
      }
    }
    _screen.refresh();
  }

  void drawRows(int firstRow, std::size_t page, int columns) {
    const auto& rows = _browser->rows();
    const DiskMap& map = _browser->map();
    if (rows.empty()) {
      _screen.draw(firstRow, 1, "(empty folder)", Style::dim, columns - 1);
      return;
    }
    std::int64_t largest = 1;
    for (Index row : rows) largest = std::max(largest, _browser->measure(row));
    const bool comparing = _browser->isComparing();
    const bool withTimes = _browser->sortKey() == DiskMapBrowser::SortKey::modified;
    for (std::size_t i = _browser->top(); i < rows.size() && i < _browser->top() + page; ++i) {
      const Index row = rows[i];
      const auto& entry = map[row];
      const std::int64_t measure = _browser->measure(row);
      const bool unknown = entry.hasMark(FileNode::notListed) ||
                           (entry.hasMark(FileNode::unreadable) && (!entry.isDirectory() || entry.childCount == 0));
      const int filled = static_cast<int>(std::lround(10.0 * static_cast<double>(std::max<std::int64_t>(measure, 0)) /
                                                      static_cast<double>(largest)));
      std::string line = fmt::format("{:>10} [{:<10}]", unknown ? std::string("?") : vantel::formatBytes(measure),
                                     std::string(static_cast<std::size_t>(filled), '#'));
      if (comparing) line += fmt::format(" {:>11}", changeText(*_browser->change(row)));
      line += entry.isDirectory() ? fmt::format(" {:>7}", _browser->itemCount(row)) : std::string(8, ' ');
      if (withTimes) line += fmt::format(" {:>10}", timeText(_browser->modificationTime(row), false));
      const char mark = vantel::markOf(entry);
      line += fmt::format(" {}{}{}", mark ? mark : ' ', vantel::escapedForTerminal(entry.nameView()),
                          entry.isDirectory() ? "/" : "");
      _screen.draw(firstRow + static_cast<int>(i - _browser->top()), 0, line,
                   i == _browser->cursor() ? Style::reverse : Style::normal, columns);
    }
  }

  void drawStatus(int row, int columns) {
    if (!_message.empty()) {
      _screen.draw(row, 0, " " + _message, Style::reverse, columns);
      return;
    }
    const auto& root = _browser->map().root();
    std::string status = fmt::format(" Disk usage: {}  Apparent size: {}  Items: {}", vantel::formatBytes(root.usage),
                                     vantel::formatBytes(root.size), _browser->itemCount(DiskMap::rootIndex));
    if (!_browser->map().isComplete()) status = " [partial]" + status;
    _screen.draw(row, 0, status, Style::reverse, columns);
  }

  // A box in the middle of the screen: its title, then lines.
  void drawBox(const std::string& title, const std::vector<std::string>& lines, int highlighted = -1) {
    const int columns = _screen.columns();
    const int width = std::min(columns - 2, 70);
    const int height = std::min(_screen.rows() - 2, static_cast<int>(lines.size()) + 4);
    const int left = (columns - width) / 2;
    const int top = std::max(1, (_screen.rows() - height) / 2);
    for (int i = 0; i < height; ++i) _screen.draw(top + i, left, std::string(static_cast<std::size_t>(width), ' '), Style::normal, width);
    _screen.draw(top, left, " " + title + " ", Style::reverse, width);
    for (int i = 0; i < static_cast<int>(lines.size()) && i < height - 3; ++i)
      _screen.draw(top + 2 + i, left + 2, tailFitted(lines[static_cast<std::size_t>(i)], width - 4),
                   i == highlighted ? Style::reverse : Style::normal, width - 4);
    if (!_message.empty()) _screen.draw(top + height - 1, left + 2, _message, Style::bold, width - 4);
  }

  void drawHelp() {
    std::vector<std::string> lines(std::begin(kHelp), std::end(kHelp));
    drawBox("vantel browse: keys (any key closes)", lines);
  }

  void drawDetails() {
    const Index entry = *_browser->selected();
    const auto& data = _browser->map()[entry];
    std::vector<std::string> lines;
    lines.push_back(vantel::escapedForTerminal(_target.displayPath(_browser->map().path(entry))));
    lines.push_back("Type:          " + typeText(data));
    lines.push_back("Apparent size: " + vantel::formatBytes(data.size) + fmt::format(" ({} bytes)", data.size));
    lines.push_back("Disk usage:    " + vantel::formatBytes(data.usage) + fmt::format(" ({} bytes)", data.usage));
    if (data.isDirectory()) lines.push_back(fmt::format("Items:         {}", _browser->itemCount(entry)));
    const std::string modified = timeText(_browser->modificationTime(entry), true);
    lines.push_back("Modified:      " + (modified.empty() ? std::string("unknown") : modified));
    if (auto change = _browser->change(entry)) {
      const std::string text = changeText(*change);
      lines.push_back("Change:        " + (text.empty() ? std::string("none") : text));
    }
    if (data.error != 0) lines.push_back("Error:         " + data.errorCode().message());
    if (data.hasMark(FileNode::notListed)) lines.push_back("Not read (the scan stopped or it was removed meanwhile)");
    if (data.hasMark(FileNode::partlyRead)) lines.push_back("Something below could not be read");
    if (data.hasMark(FileNode::otherFileSystem)) lines.push_back("On another file system: not read");
    if (data.hasMark(FileNode::pseudoFileSystem)) lines.push_back("Kernel file system: not read");
    if (data.hasMark(FileNode::cacheFolder)) lines.push_back("Cache folder (CACHEDIR.TAG): left out");
    if (data.hasMark(FileNode::hardLink))
      lines.push_back(data.hasMark(FileNode::duplicateLink) ? "Hard link, counted at another of its links"
                                                              : "Hard link (several names for one file)");
    drawBox("Details (any key closes)", lines);
  }

  void drawTrashList() {
    const auto& trashed = _browser->trashed();
    std::vector<std::string> lines;
    for (std::size_t i = trashed.size(); i-- > 0;)
      lines.push_back(fmt::format("{:>10}  {}", vantel::formatBytes(trashed[i].size),
                                  vantel::escapedForTerminal(_target.displayPath(trashed[i].item.originalPath))));
    lines.push_back("");
    lines.push_back("Enter: put back   Esc: close");
    drawBox("Moved to the trash in this run", lines, static_cast<int>(_listCursor));
  }

  TextScreen& _screen;
  const BrowseOptions& _options;
  vantel::ScanTarget _target;
  std::shared_ptr<vantelkit::platform::Trash> _trash;
  std::shared_ptr<DiskMap> _before;
  std::unique_ptr<DiskMapBrowser> _browser;
  Mode _mode = Mode::browsing;
  std::string _message;
  std::size_t _listCursor = 0;
  bool _hungUp = false;
  bool _interruptKey = false;
};

int runBrowse(const BrowseOptions& options) {
  const bool importing = !options.importFile.empty();
  if (importing == !options.path.empty()) {
    fmt::print(stderr, "vantel: {}\n", importing ? "give PATH or --import FILE, not both" : "give PATH or --import FILE");
    return vantel::kExitUsage;
  }
  if (options.readOnly && options.allowDelete) {
    fmt::print(stderr, "vantel: --read-only and --allow-delete cannot be used together\n");
    return vantel::kExitUsage;
  }
  if (!vantel::makeScanner(options.tuning, options.walk, {})) return vantel::kExitUsage;
  std::shared_ptr<DiskMap> imported;
  std::optional<vantel::ScanTarget> target;
  if (importing) {
    imported = vantel::readSavedMap(options.importFile);
    if (!imported) return vantel::kExitFailure;
    target = vantel::ScanTarget{vantelkit::FileURL::fileURLWithPath(imported->rootPath(), true), imported->rootPath(),
                                imported->rootPath()};
  } else {
    target = vantel::resolveScanTarget(options.path);
    if (!target) return vantel::kExitFailure;
  }
  std::shared_ptr<DiskMap> before;
  if (!options.diffFile.empty() && !(before = vantel::readSavedMap(options.diffFile))) return vantel::kExitFailure;

  auto screen = TextScreen::open();
  if (!screen) {
    fmt::print(stderr, "vantel: browse needs a terminal (stdin and stdout); see vantel map for printed output\n");
    return vantel::kExitFailure;
  }
  // Signals end the browser cleanly: the loops see the flag between keys.
  vantel::CancelOnInterrupt onSignal([] { signalled.store(true); });
  BrowseSession session(*screen, options, *target);
  if (before) session.setBefore(before);
  session.run(imported);
  screen.reset();  // the terminal as it was, before anything is printed

  if (const std::size_t trashed = session.trashedCount())
    fmt::print(stderr, "vantel: {} moved to the trash in this run\n", vantel::entriesText(static_cast<std::int64_t>(trashed)));
  if (signalled || session.interruptedByKey()) return vantel::interruptedExitStatus();
  if (session.hungUp()) return vantel::kExitFailure;
  if (const DiskMap* map = session.map()) return vantel::reportScanProblems(*target, map->unreadableEntries(), false);
  return vantel::kExitFailure;
}

vantel::CommandRegistration registration{"browse", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<BrowseOptions>();
  auto* command = app.add_subcommand(
      "browse", "Browse the disk map of a folder in the terminal, and move what you find to the trash");
  command->footer(
      "Keys: arrows or j/k move, Enter/right opens, left/Backspace goes up; s n C M sort by size, name, item\n"
      "count, modification time (c by change with --diff); a apparent size, . hidden files, e excluded\n"
      "folders; i details, r rescan, d move to the trash, u put back, D delete for good (--allow-delete),\n"
      "? help, q quit. While scanning, Esc or Ctrl-C stops and browses what was found (marked partial).\n"
      "Marks before a name are those of vantel map --help.");
  command->add_option("PATH", options->path, "Folder to scan and browse (a link given here is followed)");
  command->add_option("--import", options->importFile,
                      "Browse a map read from FILE (an ncdu export or vantel map --json) instead of scanning; "
                      "nothing is moved or deleted then")
      ->type_name("FILE");
  command->add_option("--diff", options->diffFile,
                      "Show each entry's change against a saved map OLD (grew, shrank, new); c sorts by it")
      ->type_name("OLD");
  command->add_flag("--read-only", options->readOnly, "Move nothing to the trash and delete nothing");
  command->add_flag("--allow-delete", options->allowDelete,
                    "Allow D to delete the selected entry for good (after two confirmations)");
  options->walk.addOptions(*command);
  options->tuning.addOptions(*command);
  command->callback([options, &exitCode] { exitCode = runBrowse(*options); });
}};

}  // namespace

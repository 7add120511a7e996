// What the scanning commands share: the folder named on the command line, checked and
// normalised; the walk options (-x, --exclude, ...); the tuning options of the scanner; and
// one scan run with progress on a terminal, Ctrl-C cancelling it, and the closing report
// of what could not be read.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TextOutput.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantel {

// Exit status after Ctrl-C (128 + SIGINT) and after SIGTERM (128 + SIGTERM), as shells
// report them.
inline constexpr int kExitInterrupted = 130;
inline constexpr int kExitTerminated = 143;
inline bool isInterruptedExit(int status) { return status == kExitInterrupted || status == kExitTerminated; }
// The exit status after the signal that interrupted the command (130 when none came).
int interruptedExitStatus();

// While it lives, SIGINT and SIGTERM call cancel (on the signal thread) instead of ending
// the process; once it is gone, a signal ends the process at once.
class CancelOnInterrupt {
 public:
  explicit CancelOnInterrupt(std::function<void()> cancel);
  ~CancelOnInterrupt();
  CancelOnInterrupt(const CancelOnInterrupt&) = delete;
  CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;
};

// After a partial result has been printed: "partial: interrupted" on stderr, and the exit
// status after the signal. Otherwise answers status.
int reportInterruption(bool interrupted, int status);

struct ScanTarget {
  vantelkit::FileURL url;
  // The path as given, for messages and output.
  std::string path;
  // The path as given, with "." and ".." resolved lexically: the prefix of paths shown.
  std::string display;
  // absolutePath (at or below url) as shown to the user: display followed by the part below.
  std::string displayPath(const std::string& absolutePath) const;
};

// The path as given with repeated "/", "." and ".." resolved without looking at the disk
// ("a/../b" is "b", "./x" is "x", "" and "." are ".").
std::string lexicallyNormal(std::string_view path);

// The folder at path, or none after printing one clear message to stderr with the
// system's reason (missing, no permission, a dangling link or a loop, not a folder). A link
// given as path is followed, as du -D and find -H do.
std::optional<ScanTarget> resolveScanTarget(const std::string& path);

// -x, --cross-pseudo, --exclude, --exclude-caches, --count-links.
struct WalkChoices {
  bool oneFileSystem = false;
  bool crossPseudo = false;
  bool excludeCaches = false;
  bool countLinks = false;
  // Totals count folders' and other entries' own sizes, as du does (set by the command).
  bool countOwnSizes = false;
  std::vector<std::string> excludes;
  void addOptions(CLI::App& command);
  vantelkit::DiskScanner::WalkOptions options() const;
};

// Hidden options for benchmarks and tests: traversal threads, the fan-out rule, and a pause
// before each folder is listed (to make a scan slow enough to interrupt).
struct ScannerTuning {
  int threads = 0;
  std::string fanOut = "demand";
  int pauseMilliseconds = 0;
  void addOptions(CLI::App& command);
};

// The same pause for the commands that scan through the library's procedures (clean, apps,
// query, mail): a hidden --pause-per-folder option, and every listing of the process waiting
// that long first once pauseEveryListing() has run (0: no pause).
void addPauseOption(CLI::App& command, int& milliseconds);
void pauseEveryListing(int milliseconds);

// A scanner with the walk choices and tuning options applied, reporting progress to
// handler; null after a message when the tuning options are wrong.
std::shared_ptr<vantelkit::DiskScanner> makeScanner(const ScannerTuning& tuning, const WalkChoices& walk,
                                                    vantelkit::DiskScanner::ProgressHandler handler);

// One scan, run the way every scanning command runs it.
class ScanRun {
 public:
  // extraProgress: more text for the progress line (say, the matches so far), asked of the
  // running scanner.
  ScanRun(const ScannerTuning& tuning, const WalkChoices& walk,
          std::function<std::string(const vantelkit::DiskScanner&)> extraProgress = {});
  // False (after a message) when the tuning options are wrong.
  bool ready() const { return _ready; }
  // Runs the scan: progress on stderr when it is a terminal, cleared at the end; SIGINT and
  // SIGTERM cancel it (see interrupted()).
  std::shared_ptr<vantelkit::DiskScanResult> run(const ScanTarget& target, vantelkit::DiskScanner::ScanRequest request);
  // The same walk into a compact map (no collectors).
  std::shared_ptr<vantelkit::DiskMap> runMap(const ScanTarget& target, vantelkit::DiskScanner::MapRequest request);
  bool interrupted() const { return _interrupted; }
  // True when a progress line is shown (stderr is a terminal).
  bool showsProgress() const { return static_cast<bool>(_progress); }

 private:
  struct Progress;
  std::shared_ptr<Progress> _progress;
  // Cancels the scan on SIGINT and SIGTERM while walk runs; clears the progress line after.
  void guarded(const std::function<void()>& walk);
  std::shared_ptr<vantelkit::DiskScanner> _scanner;
  bool _ready = true;
  bool _interrupted = false;
};

// After the result has been printed: one line on stderr for what could not be read ("3
// folders could not be read; first: PATH: Permission denied") and "partial: interrupted"
// after Ctrl-C. Answers the exit status: 130 after Ctrl-C, 1 when something could not be
// read, else 0.
int reportScanProblems(const ScanTarget& target, const vantelkit::DiskScanResult& result, bool interrupted);
int reportScanProblems(const ScanTarget& target, const std::vector<vantelkit::DiskScanResult::UnreadableEntry>& unreadable,
                       bool interrupted);

// For results that are not one tree (clean, apps, query): the first of unreadable (sorted by
// path) that is path itself or lies below it, or null; itself tells which. An item that is
// itself unreadable has no known size.
const vantelkit::DiskScanResult::UnreadableEntry* unreadableAt(
    const std::string& path, const std::vector<vantelkit::DiskScanResult::UnreadableEntry>& unreadable, bool& itself);
// The "unreadable" member of a JSON document: an array of {"path", "error"}.
void writeUnreadableJson(vantelkit::JsonWriter& json,
                         const std::vector<vantelkit::DiskScanResult::UnreadableEntry>& unreadable);
// The closing report of reportScanProblems() for paths shown whole (not below one folder).
int reportUnreadable(const std::vector<vantelkit::DiskScanResult::UnreadableEntry>& unreadable, bool interrupted);

// A number option given as text into value (left alone when text is none). False after
// "vantel: NAME must be a whole number ≥ MINIMUM" on stderr.
bool numberOption(const std::optional<std::string>& text, const char* name, std::int64_t minimum,
                  std::optional<std::int64_t>& value);

}  // namespace vantel

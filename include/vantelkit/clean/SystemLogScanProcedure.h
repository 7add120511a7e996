// The system's logs in a clean scan, sized without root: the rotated logs below /var/log
// (named as LogFileNames classifies them), the archived files of the persistent journal
// (/var/log/journal/<machine id>/), the crash reports in /var/crash and systemd's core dumps
// (/var/lib/systemd/coredump), every folder through platform::Paths::system. Live logs and
// active journal files are never items.
// Outputs a container (without a file: a host acting on it acts on its items, never on the
// whole folder) per folder that exists: "Rotated logs" (an item per rotated file, named
// by its path below /var/log, reason "rotated log"), "Archived journal" (an item per archived
// file, named by its path below the journal folder, reason "archived journal file"; the
// container's reason states the totals and the cap in force: "archived journal: 1.2 GB
// archived, 96 MB active, cap 4.29 GB (default)"), "Crash reports" (an item per entry, reason
// "crash report") and "Core dumps" ("core dump"). The cap is SystemMaxUse= from journald.conf
// and its drop-ins, or by default a tenth of the file system that holds the journal, at most
// 4 GiB. What cannot be listed (a folder closed to the user) is in unreadable(), never an item
// of 0 bytes. Nothing is written and no tool is run; links are never followed. The procedure
// never fails.
// Thread safety: as GroupProcedure. The output is set on the main queue, which the host must
// drain; read it once the procedure has finished.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/clean/CleanScanItem.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit {

class SystemLogScanProcedure : public GroupProcedure, public OutputProcedure<CleanScanItemSet> {
 public:
  // The journal's cap in force.
  struct JournalCap {
    // None when neither the configuration sets it nor the file system's size can be read.
    std::optional<std::uint64_t> bytes;
    // True when SystemMaxUse= set it.
    bool configured = false;
    bool operator==(const JournalCap&) const = default;
  };

  // The folders are those of the root now. measuresUsage: sizes are the bytes allocated on
  // disk instead of logical sizes.
  explicit SystemLogScanProcedure(bool measuresUsage = false);

  // Paths::system("/var/log"), its "journal" folder, "/var/crash",
  // "/var/lib/systemd/coredump".
  static std::string logFolder();
  static std::string journalFolder();
  static std::string crashFolder();
  static std::string coreDumpFolder();

  // SystemMaxUse= as the journal reads it: the main journald.conf (the first of
  // /etc/systemd, /run/systemd, /usr/local/lib/systemd, /usr/lib/systemd that has one), then
  // the drop-ins of their journald.conf.d folders in the order of their names; all below the
  // root override.
  static std::optional<std::uint64_t> configuredJournalMaxUse();
  // The cap in force for the journal folder.
  static JournalCap journalCap();
  // "archived journal: <archived> archived, <active> active, cap <cap> (SystemMaxUse)" (or
  // "(default)", or "cap unknown"), sizes as ByteCountFormatter writes file sizes.
  static std::string archivedJournalReason(std::uint64_t archived, std::uint64_t active, const JournalCap& cap);

  bool measuresUsage() const { return _measuresUsage; }

  using Unreadable = std::vector<DiskScanResult::UnreadableEntry>;
  // What the walks could not read; complete once the procedure has finished.
  Unreadable unreadable() const;

 private:
  void addUnreadable(const Unreadable& entries);

  const bool _measuresUsage;
  mutable std::mutex _mutex;
  Unreadable _unreadable;  // guarded by _mutex
};

}  // namespace vantelkit

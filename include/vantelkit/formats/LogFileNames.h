// What a name under /var/log says about the file: a rotated log that the rotation left behind
// or a live one that is still written, and of the journal's files, an archived one or an
// active one.
// Thread safety: pure functions; safe from any thread.
#pragma once

#include <string_view>

namespace vantelkit {

enum class LogFileKind { live, rotated };

// rotated for a name, after an optional compression ending (".gz", ".xz", ".bz2", ".zst",
// ".lz4", ".Z": any such name is rotated), that ends in "." and digits ("syslog.1",
// "dpkg.log.2.gz"), in ".old", or in a date after "-", "." or "_" (YYYYMMDD, optionally
// followed by two digits of the hour, or YYYY-MM-DD: "syslog-20241201",
// "auth.log-20241201.gz"); live for every other name.
LogFileKind classifyLogFileName(std::string_view name);

enum class JournalFileKind { notJournal, active, archived };

// archived for "*@*.journal" (rotated by the journal) and "*.journal~" (set aside after an
// unclean end); active for any other "*.journal"; notJournal otherwise.
JournalFileKind classifyJournalFileName(std::string_view name);

}  // namespace vantelkit

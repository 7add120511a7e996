#include "vantelkit/formats/LogFileNames.h"

#include <gtest/gtest.h>

namespace vantelkit {
namespace {

TEST(LogFileNamesTest, RotatedAndLiveLogs) {
  for (const char* name : {"syslog.1", "syslog.12", "dpkg.log.2.gz", "kern.log.gz", "Xorg.0.log.old", "messages.xz",
                           "syslog-20241201", "auth.log-20241201", "secure-20241201.gz", "cron-2024120103",
                           "boot.log-2024-12-01", "history.log.3.bz2", "maillog_20240229"})
    EXPECT_EQ(classifyLogFileName(name), LogFileKind::rotated) << name;
  for (const char* name : {"syslog", "kern.log", "Xorg.0.log", "Xorg.1.log", "dpkg.log", "wtmp", "lastlog", ".gz",
                           ".old", "app-2024", "backup-19000101", "syslog-20241301", "x.1a", "1", "README"})
    EXPECT_EQ(classifyLogFileName(name), LogFileKind::live) << name;
}

TEST(LogFileNamesTest, ArchivedAndActiveJournalFiles) {
  EXPECT_EQ(classifyJournalFileName("system.journal"), JournalFileKind::active);
  EXPECT_EQ(classifyJournalFileName("user-1000.journal"), JournalFileKind::active);
  EXPECT_EQ(classifyJournalFileName("system@0123-0001-0002.journal"), JournalFileKind::archived);
  EXPECT_EQ(classifyJournalFileName("user-1000@0005f1-7f8e.journal~"), JournalFileKind::archived);
  EXPECT_EQ(classifyJournalFileName("system.journal~"), JournalFileKind::archived);
  for (const char* name : {".journal", "journal", "system.journal.gz", "x@y", "syslog.1"})
    EXPECT_EQ(classifyJournalFileName(name), JournalFileKind::notJournal) << name;
}

}  // namespace
}  // namespace vantelkit

// A file system for durable-write tests: runs every step on the platform's file system, but
// can fail a chosen step (on its nth call) with a chosen failure, cut writes short, or stop
// dead at a step as a crash would (that step and everything after it do nothing, temporary
// files included). It also tracks what the disk would hold after a power loss: file content
// counts only once synced, and a rename only once its folder was synced.
// Thread safety: one test thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "vantelkit/platform/DurableFile.h"

namespace vantel::testing {

class FaultInjectingFileSystem final : public vantelkit::platform::DurableFile::FileSystem,
                                       public std::enable_shared_from_this<FaultInjectingFileSystem> {
 public:
  using DurableFile = vantelkit::platform::DurableFile;
  using Step = DurableFile::Step;
  using Failure = DurableFile::Failure;

  // What a file held after a power loss when its data never reached the disk.
  static constexpr const char* kLostContent = "<lost>";

  FaultInjectingFileSystem();

  // The occurrence-th call of step (counting from 1) fails with failure; every call from
  // then on when repeat is set.
  void failAt(Step step, Failure failure, int occurrence = 1, bool repeat = false);
  // Each write accepts at most this many bytes.
  void limitWrites(std::size_t bytesPerCall) { _writeLimit = bytesPerCall; }
  // The first call of step, and every call after it, fails without doing anything, and
  // removals stop too: the process is gone.
  void crashAt(Step step) { _crashStep = step; }

  // The steps called, in order (one entry per write call).
  const std::vector<Step>& calls() const { return _calls; }
  // Every content path may hold after a power loss now, given what it held durably before
  // the test began (none: it did not exist).
  std::set<std::string> contentsAfterPowerLoss(const std::filesystem::path& path,
                                               const std::optional<std::string>& before) const;

  std::variant<std::unique_ptr<OpenFile>, DurableFile::StepFailure> createNew(const std::filesystem::path& path) override;
  DurableFile::StepResult rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  DurableFile::StepResult syncFolder(const std::filesystem::path& folder) override;
  void remove(const std::filesystem::path& path) override;

 private:
  class File;
  struct Rename {
    std::filesystem::path from;
    bool folderSynced = false;
  };
  // The injected failure for this call of step, if any; counts the call.
  std::optional<DurableFile::StepFailure> enter(Step step);

  std::shared_ptr<DurableFile::FileSystem> _platform;
  std::map<Step, std::pair<int, Failure>> _failures;
  std::map<Step, bool> _repeat;
  std::map<Step, int> _counts;
  std::optional<Step> _crashStep;
  bool _crashed = false;
  std::size_t _writeLimit = 0;
  std::vector<Step> _calls;
  std::map<std::filesystem::path, std::string> _written;  // by the path it was created at
  std::map<std::filesystem::path, std::string> _synced;
  std::map<std::filesystem::path, Rename> _renamed;  // by target
};

}  // namespace vantel::testing

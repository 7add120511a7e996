#include "FaultInjectingDirectoryReader.h"

#include <system_error>

namespace vantel::testing {

namespace {
class CountingVisitor final : public vantelkit::platform::DirectoryReader::Visitor {
 public:
  CountingVisitor(Visitor& inner, int limit) : _inner(inner), _limit(limit) {}
  void visit(const vantelkit::platform::DirectoryReader::Entry& entry) override {
    if (_limit >= 0 && _count >= _limit) return;
    ++_count;
    _inner.visit(entry);
  }
  bool wantsDirectoryDevice() const override { return _inner.wantsDirectoryDevice(); }
  bool wantsFileStatus() const override { return _inner.wantsFileStatus(); }
  bool wantsStatusOf(std::string_view name) const override { return _inner.wantsStatusOf(name); }
  bool wantsEveryStatus() const override { return _inner.wantsEveryStatus(); }
  bool enterDirectory(std::uint64_t device) override { return _inner.enterDirectory(device); }
  void failed(std::error_code error) override { _inner.failed(error); }
  bool cut() const { return _limit >= 0 && _count >= _limit; }

 private:
  Visitor& _inner;
  int _limit;
  int _count = 0;
};
// Counts the files whose status a visitor that wants none asks for by name.
class StatusCounter final : public vantelkit::platform::DirectoryReader::Visitor {
 public:
  StatusCounter(Visitor& inner, std::atomic<int>& count) : _inner(inner), _count(count) {}
  void visit(const vantelkit::platform::DirectoryReader::Entry& entry) override { _inner.visit(entry); }
  bool wantsDirectoryDevice() const override { return _inner.wantsDirectoryDevice(); }
  bool wantsFileStatus() const override { return _inner.wantsFileStatus(); }
  bool wantsStatusOf(std::string_view name) const override {
    bool wanted = _inner.wantsStatusOf(name);
    if (wanted) ++_count;
    return wanted;
  }
  bool wantsEveryStatus() const override { return _inner.wantsEveryStatus(); }
  bool enterDirectory(std::uint64_t device) override { return _inner.enterDirectory(device); }
  void failed(std::error_code error) override { _inner.failed(error); }

 private:
  Visitor& _inner;
  std::atomic<int>& _count;
};
// Gives chosen entries a status error.
class StatusFailingVisitor final : public vantelkit::platform::DirectoryReader::Visitor {
 public:
  StatusFailingVisitor(Visitor& inner, const std::string& directory, const std::set<std::string>& paths)
      : _inner(inner), _directory(directory), _paths(paths) {}
  void visit(const vantelkit::platform::DirectoryReader::Entry& entry) override {
    std::string path = _directory == "/" ? "/" + std::string(entry.name) : _directory + "/" + std::string(entry.name);
    if (!_paths.count(path)) return _inner.visit(entry);
    auto failed = entry;
    failed.error = static_cast<int>(std::errc::permission_denied);
    failed.size = 0;
    failed.usage = 0;
    _inner.visit(failed);
  }
  bool wantsDirectoryDevice() const override { return _inner.wantsDirectoryDevice(); }
  bool wantsFileStatus() const override { return _inner.wantsFileStatus(); }
  bool wantsStatusOf(std::string_view name) const override { return _inner.wantsStatusOf(name); }
  bool wantsEveryStatus() const override { return _inner.wantsEveryStatus(); }
  bool enterDirectory(std::uint64_t device) override { return _inner.enterDirectory(device); }
  void failed(std::error_code error) override { _inner.failed(error); }

 private:
  Visitor& _inner;
  const std::string& _directory;
  const std::set<std::string>& _paths;
};
}  // namespace

void FaultInjectingDirectoryReader::failStatus(std::string path) { _failStatus.insert(std::move(path)); }

FaultInjectingDirectoryReader::FaultInjectingDirectoryReader()
    : _platform(vantelkit::platform::DirectoryReader::platformDefault()) {}

void FaultInjectingDirectoryReader::failOpen(std::string path) { _failOpen.insert(std::move(path)); }

void FaultInjectingDirectoryReader::failReadAfter(std::string path, int entries) {
  _failReadAfter[std::move(path)] = entries;
}

void FaultInjectingDirectoryReader::setBeforeListing(std::function<void(const std::string&)> hook) {
  _beforeListing = std::move(hook);
}

FaultInjectingDirectoryReader::Status FaultInjectingDirectoryReader::list(const std::string& path, bool followLink,
                                                                          Visitor& visitor) {
  ++_listings;
  int now = ++_concurrent;
  int most = _mostConcurrent.load();
  while (now > most && !_mostConcurrent.compare_exchange_weak(most, now)) {
  }
  struct Leave {
    std::atomic<int>& counter;
    ~Leave() { --counter; }
  } leave{_concurrent};

  if (_beforeListing) _beforeListing(path);
  if (_failOpen.count(path)) {
    // The usual reason a folder cannot be opened.
    visitor.failed(std::make_error_code(std::errc::permission_denied));
    return Status::cannotOpen;
  }
  if (visitor.wantsFileStatus()) ++_statusListings;
  StatusCounter counter(visitor, _statusesRead);
  StatusFailingVisitor statusFailing(counter, path, _failStatus);
  auto limit = _failReadAfter.find(path);
  if (limit == _failReadAfter.end()) return _platform->list(path, followLink, statusFailing);
  CountingVisitor counting(statusFailing, limit->second);
  auto status = _platform->list(path, followLink, counting);
  if (!counting.cut()) return status;
  visitor.failed(std::make_error_code(std::errc::io_error));
  return Status::readFailed;
}

FaultInjectingDirectoryReader::Status FaultInjectingDirectoryReader::readStatuses(
    const std::string& path, const std::vector<std::string_view>& names, Visitor& visitor) {
  _statusesRead += static_cast<int>(names.size());
  if (_failOpen.count(path)) {
    visitor.failed(std::make_error_code(std::errc::permission_denied));
    return Status::cannotOpen;
  }
  StatusFailingVisitor statusFailing(visitor, path, _failStatus);
  return _platform->readStatuses(path, names, statusFailing);
}

}  // namespace vantel::testing

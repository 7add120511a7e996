#include "FaultInjectingDirectoryReader.h"

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
  bool cut() const { return _limit >= 0 && _count >= _limit; }

 private:
  Visitor& _inner;
  int _limit;
  int _count = 0;
};
}  // namespace

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
  if (_failOpen.count(path)) return Status::cannotOpen;
  auto limit = _failReadAfter.find(path);
  if (limit == _failReadAfter.end()) return _platform->list(path, followLink, visitor);
  CountingVisitor counting(visitor, limit->second);
  auto status = _platform->list(path, followLink, counting);
  return counting.cut() ? Status::readFailed : status;
}

}  // namespace vantel::testing

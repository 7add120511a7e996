// A directory reader for tests: lists through the platform's reader, but can refuse to open
// chosen folders, stop a listing with a read error after some entries, run a hook before
// each listing (to delete, block or count), and records the most listings seen at once and
// how many file statuses were asked for.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/platform/DirectoryReader.h"

namespace vantel::testing {

class FaultInjectingDirectoryReader final : public vantelkit::platform::DirectoryReader {
 public:
  FaultInjectingDirectoryReader();

  // Set these before the scan starts.
  // Opening the folder at path fails with "Permission denied".
  void failOpen(std::string path);
  // The status of the entry at path (a file or folder below a listed folder) cannot be
  // read: it is listed with "Permission denied" and no sizes.
  void failStatus(std::string path);
  void failReadAfter(std::string path, int entries);
  void setBeforeListing(std::function<void(const std::string& path)> hook);

  Status list(const std::string& path, bool followLink, Visitor& visitor) override;
  // Through the platform's reader, with the same refusals and status failures as list().
  Status readStatuses(const std::string& path, const std::vector<std::string_view>& names,
                      Visitor& visitor) override;

  int listings() const { return _listings.load(); }
  // Listings whose visitor wanted file statuses, and files whose status was asked for one
  // by one (by a visitor's wantsStatusOf() or through readStatuses()).
  int statusListings() const { return _statusListings.load(); }
  int statusesRead() const { return _statusesRead.load(); }
  int mostConcurrentListings() const { return _mostConcurrent.load(); }

 private:
  std::shared_ptr<DirectoryReader> _platform;
  std::set<std::string> _failOpen;
  std::set<std::string> _failStatus;
  std::map<std::string, int> _failReadAfter;
  std::function<void(const std::string&)> _beforeListing;
  std::atomic<int> _listings{0};
  std::atomic<int> _statusListings{0};
  std::atomic<int> _statusesRead{0};
  std::atomic<int> _concurrent{0};
  std::atomic<int> _mostConcurrent{0};
};

}  // namespace vantel::testing

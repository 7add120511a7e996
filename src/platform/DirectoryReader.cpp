#include "vantelkit/platform/DirectoryReader.h"

#include <mutex>

namespace vantelkit::platform {

namespace {
std::mutex sharedReaderMutex;
std::shared_ptr<DirectoryReader> sharedReader;  // guarded by sharedReaderMutex
}  // namespace

std::shared_ptr<DirectoryReader> DirectoryReader::shared() {
  {
    std::lock_guard lock(sharedReaderMutex);
    if (sharedReader) return sharedReader;
  }
  return platformDefault();
}

DirectoryReader::Status DirectoryReader::readStatuses(const std::string& path, const std::vector<std::string_view>& names,
                                                      Visitor& visitor) {
  auto folder = pathStatus(path, true);
  if (folder.type != FileObjectType::directory) {
    visitor.failed(folder.error ? folder.error : std::make_error_code(std::errc::not_a_directory));
    return Status::cannotOpen;
  }
  std::string entryPath;
  for (auto name : names) {
    entryPath = path;
    if (entryPath.empty() || entryPath.back() != '/') entryPath += '/';
    entryPath += name;
    auto status = pathStatus(entryPath, false);
    Entry entry;
    entry.name = name;
    entry.type = status.type;
    entry.size = status.size;
    entry.usage = status.usage;
    entry.device = status.device;
    entry.error = status.error.value();
    visitor.visit(entry);
  }
  return Status::complete;
}

void DirectoryReader::setShared(std::shared_ptr<DirectoryReader> reader) {
  std::lock_guard lock(sharedReaderMutex);
  sharedReader = std::move(reader);
}

}  // namespace vantelkit::platform

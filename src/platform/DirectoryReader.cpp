#include "vantelkit/platform/DirectoryReader.h"

#include <mutex>

namespace vantelkit::platform {

namespace {

std::mutex sharedReaderMutex;
std::shared_ptr<DirectoryReader> sharedReader;  // guarded by sharedReaderMutex

}  // namespace

std::shared_ptr<DirectoryReader> DirectoryReader::shared() {
  std::lock_guard lock(sharedReaderMutex);
  return sharedReader ? sharedReader : platformDefault();
}

void DirectoryReader::setShared(std::shared_ptr<DirectoryReader> reader) {
  std::lock_guard lock(sharedReaderMutex);
  sharedReader = std::move(reader);
}

}  // namespace vantelkit::platform

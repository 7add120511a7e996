#include "vantelkit/platform/FlatpakInstallations.h"

#include <mutex>

namespace vantelkit::platform {

namespace {
std::mutex sharedMutex;
std::shared_ptr<FlatpakInstallations> sharedValue;  // guarded by sharedMutex
}  // namespace

std::string FlatpakInstalledRef::ref() const {
  return (kind == Kind::application ? "app/" : "runtime/") + id + "/" + arch + "/" + branch;
}

std::shared_ptr<FlatpakInstallations> FlatpakInstallations::shared() {
  std::lock_guard lock(sharedMutex);
  if (!sharedValue) sharedValue = platformDefault();
  return sharedValue;
}

void FlatpakInstallations::setShared(std::shared_ptr<FlatpakInstallations> installations) {
  std::lock_guard lock(sharedMutex);
  sharedValue = std::move(installations);
}

}  // namespace vantelkit::platform

#include "vantelkit/system/DiskImage.h"

#include <mutex>

#include "vantelkit/foundation/PropertyList.h"
#include "vantelkit/platform/Volumes.h"

namespace vantelkit {

namespace {

class SystemDiskImageInformationProvider final : public DiskImageInformationProvider {
 public:
  std::optional<Value> imageInformation() override {
    if (auto output = platform::Volumes::shared().diskImageToolInformation()) {
      auto parsed = PropertyList::parse(*output);
      if (!parsed) return std::nullopt;
      return std::move(*parsed);
    }
    return loopDeviceImageInformation();
  }
};

std::mutex providerMutex;
std::shared_ptr<DiskImageInformationProvider>& installedProvider() {
  static std::shared_ptr<DiskImageInformationProvider> provider;  // guarded by providerMutex
  return provider;
}

}  // namespace

DiskImageInformationProvider& DiskImageInformationProvider::shared() {
  std::lock_guard lock(providerMutex);
  auto& installed = installedProvider();
  if (!installed) installed = std::make_shared<SystemDiskImageInformationProvider>();
  return *installed;
}

void DiskImageInformationProvider::setShared(std::shared_ptr<DiskImageInformationProvider> provider) {
  std::lock_guard lock(providerMutex);
  installedProvider() = std::move(provider);
}

Value loopDeviceImageInformation() {
  Value::Array images;
  for (const auto& device : platform::Volumes::shared().attachedLoopDevices()) {
    Value::Array entities;
    entities.push_back(Value::Dictionary{{"dev-entry", device.device}});
    for (const auto& partition : device.partitions) entities.push_back(Value::Dictionary{{"dev-entry", partition}});
    images.push_back(Value::Dictionary{{"image-path", device.backingFile}, {"system-entities", std::move(entities)}});
  }
  return Value::Dictionary{{"images", std::move(images)}};
}

bool imageInformationContainsDevice(const Value& information, std::string_view device) {
  const Value::Array* images = information.arrayFor("images");
  if (!images) return false;
  for (const Value& image : *images) {
    if (!image.dictionary()) return false;
    const Value::Array* entities = image.arrayFor("system-entities");
    if (!entities) return false;
    for (const Value& entity : *entities) {
      if (!entity.dictionary()) return false;
      const std::string* entry = entity.textFor("dev-entry");
      if (!entry) return false;
      if (*entry == device) return true;
    }
  }
  return false;
}

bool isOnDiskImage(const FileURL& url) {
  const std::string folder = url.deletingLastPathComponent().path();
  auto volume = platform::Volumes::shared().volumeOfFolder(folder);
  if (!volume || volume->isRootVolume || volume->mountedFrom.empty()) return false;
  auto information = DiskImageInformationProvider::shared().imageInformation();
  return information && imageInformationContainsDevice(*information, volume->mountedFrom);
}

bool isOnDiskImage(const Bundle& bundle) { return isOnDiskImage(FileURL::fileURLWithPath(bundle.bundlePath(), true)); }

}  // namespace vantelkit

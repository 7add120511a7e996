#include "vantelkit/platform/ImageCodec.h"

#include <mutex>

#include "platform/linux/GdkPixbufImageCodec.h"

namespace vantelkit::platform {

namespace {
std::mutex codecMutex;
std::shared_ptr<ImageCodec>& installedCodec() {
  static std::shared_ptr<ImageCodec> codec;  // guarded by codecMutex
  return codec;
}
}  // namespace

ImageCodec& ImageCodec::shared() {
  std::lock_guard lock(codecMutex);
  auto& installed = installedCodec();
  if (!installed) installed = makeGdkPixbufImageCodec();
  return *installed;
}

void ImageCodec::setShared(std::shared_ptr<ImageCodec> codec) {
  std::lock_guard lock(codecMutex);
  installedCodec() = std::move(codec);
}

}  // namespace vantelkit::platform

// The image codec of a Linux desktop: gdk-pixbuf and its loader modules (SVG through librsvg).
#pragma once

#include <memory>

#include "vantelkit/platform/ImageCodec.h"

namespace vantelkit::platform {

std::shared_ptr<ImageCodec> makeGdkPixbufImageCodec();

}  // namespace vantelkit::platform

#include "vantelkit/applications/FileIcon.h"

#include "vantelkit/formats/ApplicationIcon.h"

namespace vantelkit {

platform::Image fileIcon(const FileURL& url, std::optional<int> pointSize) {
  platform::Image icon = iconForFile(url.path());
  if (!pointSize) return icon;
  for (auto& representation : icon.representations) {
    if (representation.pixelsWide == *pointSize) {
      platform::Image sized;
      sized.representations.push_back(std::move(representation));
      return sized;
    }
  }
  return icon;
}

}  // namespace vantelkit

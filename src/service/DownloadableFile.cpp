#include "vantelkit/service/DownloadableFile.h"

#include <algorithm>

#include "vantelkit/service/URLScheme.h"

namespace vantelkit {
namespace {

// A link is outside data: its name must not lead the host out of the folder it saves into.
std::string safeFilename(std::string name) {
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), '\0', '_');
  if (name == "." || name == "..") return "_";
  return name;
}

}  // namespace

std::optional<GenericDownloadableFile> GenericDownloadableFile::fromVantelFileURL(const URL& link) {
  URLComponents components = URLComponents::from(link);
  if (components.scheme != URLScheme::vantelFile) return std::nullopt;
  components.scheme = std::string(URLScheme::https);

  std::optional<std::string> title;
  // The other items stay exactly as written: decoding and encoding them again could change
  // what the server reads.
  auto encodedItems = components.percentEncodedQueryItems();
  const auto decodedItems = components.queryItems();
  if (encodedItems && decodedItems) {
    const auto first = std::find_if(decodedItems->begin(), decodedItems->end(),
                                    [](const URLQueryItem& item) { return item.name == "title"; });
    if (first != decodedItems->end() && first->value) {
      title = *first->value;
      encodedItems->erase(encodedItems->begin() + (first - decodedItems->begin()));
      components.setPercentEncodedQueryItems(encodedItems->empty() ? std::nullopt : encodedItems);
    }
  }
  std::string filename = title ? *title : link.lastPathComponent();
  return GenericDownloadableFile(safeFilename(std::move(filename)), components.url());
}

}  // namespace vantelkit

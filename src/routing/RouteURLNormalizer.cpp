#include "vantelkit/routing/RouteURLNormalizer.h"

#include "vantelkit/service/VantelAPI.h"

namespace vantelkit {
namespace {

std::string removingAll(std::string text, std::string_view needle) {
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at)) {
    text.erase(at, needle.size());
  }
  return text;
}

}  // namespace

URL RouteURLNormalizer::normalize(const URL& url) {
  URL result = url;

  const std::string decoded = removingPercentEncoding(result.absoluteString()).value_or(std::string());
  if (auto cleaned = URL::parse(removingAll(decoded, "about:blank"))) result = std::move(*cleaned);

  if (!result.host() && result.fragment()) {
    const std::string text = VantelAPI::baseURL().absoluteString() + "/#" + *result.fragment();
    if (auto placed = URL::parse(text)) result = std::move(*placed);
  }

  if (result.isRelative()) {
    const std::string path = result.path();
    const std::string separator = path.empty() || !path.starts_with('/') ? "/" : "";
    if (auto placed = URL::parse(VantelAPI::baseURL().absoluteString() + separator + path)) {
      result = std::move(*placed);
    }
  }
  return result;
}

}  // namespace vantelkit

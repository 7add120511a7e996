// Feeds arbitrary text to the URL parser and checks that every URL it accepts takes apart and
// goes back together unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vantelkit/platform/URL.h"
#include "vantelkit/routing/RouteURLNormalizer.h"

using namespace vantelkit;

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  (void)removingPercentEncoding(text);
  if (auto file = URL::fileURL(text)) {
    check(file->filePath() == std::string(text));
  }

  auto url = URL::parse(text);
  if (!url) return 0;
  check(url->absoluteString() == text);
  (void)url->host();
  (void)url->port();
  (void)url->path();
  (void)url->lastPathComponent();
  (void)url->filePath();
  (void)url->isRelative();
  for (const auto& component : url->pathComponents()) check(!component.empty());

  URLComponents components = URLComponents::from(*url);
  check(components.string() == std::string(text));

  if (auto items = components.queryItems()) {
    URLComponents changed = components;
    changed.setQueryItems(items);
    if (auto reassembled = changed.url()) check(reassembled->queryItems() == items);
    changed.setPercentEncodedQueryItems(components.percentEncodedQueryItems());
    check(changed.percentEncodedQuery == components.percentEncodedQuery);
  }
  URLComponents moved = components;
  moved.scheme = "https";
  moved.setPath(url->path());
  (void)moved.url();

  static const URL base = *URL::parse("https://base.example.com/a/b?q#f");
  if (auto resolved = url->resolved(base)) check(resolved->scheme().has_value());
  (void)RouteURLNormalizer::normalize(*url);
  return 0;
}

// Matches random patterns against random URLs. The input is a scheme, a pattern and a URL
// separated by newlines. A pattern made of literals only must match exactly the URLs with the
// same components.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/routing/RouteURLNormalizer.h"
#include "vantelkit/routing/URLRouter.h"

using namespace vantelkit;

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

std::vector<std::string> split(std::string_view text) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    const std::size_t slash = std::min(text.find('/'), text.size());
    if (slash > 0) parts.emplace_back(text.substr(0, slash));
    text.remove_prefix(std::min(slash + 1, text.size()));
  }
  return parts;
}

std::string_view nextLine(std::string_view& text) {
  const std::size_t end = std::min(text.find('\n'), text.size());
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view scheme = nextLine(input);
  const std::string_view pattern = nextLine(input);
  const std::string_view text = input;

  auto url = URL::parse(text);
  if (!url) return 0;

  const URLRoute route = URLPathRoute(scheme, pattern);
  const URLRouteResult result = route(*url);
  (void)route(RouteURLNormalizer::normalize(*url));

  URLRouter<int> router;
  router.add(scheme, pattern, 1);
  router.add(pattern, [](const URLRouteVariables& variables) { return static_cast<int>(variables.size()); });
  (void)router.match(*url);

  const bool literalOnly = scheme == "*" && pattern.find_first_of(":?*#") == std::string_view::npos;
  if (literalOnly) {
    std::vector<std::string> urlComponents;
    for (const auto& component : url->pathComponents()) {
      if (component != "/") urlComponents.push_back(component);
    }
    check(result.isMatched() == (split(pattern) == urlComponents));
    if (result.isMatched()) check(result.variables()->empty());
  }
  return 0;
}

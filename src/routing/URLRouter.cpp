#include "vantelkit/routing/URLRouter.h"

#include <memory>

namespace vantelkit {
namespace {

using Components = std::vector<std::string>;

// Splits at "/" and drops empty components.
Components cleanComponents(std::string_view text) {
  Components components;
  while (!text.empty()) {
    const std::size_t slash = std::min(text.find('/'), text.size());
    if (slash > 0) components.emplace_back(text.substr(0, slash));
    text.remove_prefix(std::min(slash + 1, text.size()));
  }
  return components;
}

// The URL's path components without the "/" component and empty ones.
Components cleanComponents(const URL& url) {
  Components components;
  for (auto& component : url.pathComponents()) {
    if (!component.empty() && component != "/") components.push_back(std::move(component));
  }
  return components;
}

bool isVariable(std::string_view component) {
  return component.starts_with(':') || component.starts_with('?');
}

// Every pattern component from k on may be missing.
bool tailMayBeMissing(const Components& pattern, std::size_t k) {
  for (std::size_t j = k; j < pattern.size(); ++j) {
    if (!pattern[j].starts_with('?') && !pattern[j].starts_with('*')) return false;
  }
  return true;
}

// Walks pattern and URL components in lockstep. After a wildcard, literal mismatches pass
// until a literal match or a variable clears the lenient flag.
bool matchComponents(const Components& pattern, const Components& url, URLRouteVariables& variables) {
  const std::size_t n = pattern.size();
  const std::size_t m = url.size();
  if (m == 0) return tailMayBeMissing(pattern, 0);
  if (n == 0) return false;
  bool lenient = false;
  for (std::size_t i = 0;; ++i) {
    const std::string& component = pattern[i];
    if (isVariable(component)) {
      variables.insert_or_assign(component.substr(1), url[i]);
      lenient = false;
    } else if (component.starts_with('*')) {
      lenient = true;
    } else if (component == url[i]) {
      lenient = false;
    } else if (!lenient) {
      return false;
    }
    if (i + 1 == m) return tailMayBeMissing(pattern, m);
    if (i + 1 == n) return lenient;
  }
}

struct PreparedPattern {
  std::string scheme;
  Components path;
  std::optional<Components> fragment;
};

PreparedPattern preparePattern(std::string_view scheme, std::string_view path) {
  PreparedPattern pattern;
  pattern.scheme = std::string(scheme);
  const std::size_t hash = path.find('#');
  if (hash == std::string_view::npos) {
    pattern.path = cleanComponents(path);
    return pattern;
  }
  pattern.path = cleanComponents(path.substr(0, hash));
  if (pattern.path.empty()) pattern.path.emplace_back(URLRouterWildcard);
  std::string_view fragment = path.substr(hash + 1);
  fragment = fragment.substr(0, std::min(fragment.find('#'), fragment.size()));
  pattern.fragment = cleanComponents(fragment);
  return pattern;
}

}  // namespace

URLRoute URLPathRoute(std::string_view scheme, std::string_view path) {
  auto pattern = std::make_shared<const PreparedPattern>(preparePattern(scheme, path));
  return [pattern](const URL& url) {
    if (pattern->scheme != URLRouterWildcard && url.scheme() != pattern->scheme) {
      return URLRouteResult::failed();
    }
    URLRouteVariables variables;
    if (!matchComponents(pattern->path, cleanComponents(url), variables)) return URLRouteResult::failed();
    if (!pattern->fragment) return URLRouteResult::matched(std::move(variables));
    if (!url.fragment()) return URLRouteResult::failed();
    URLRouteVariables fragmentVariables;
    if (!matchComponents(*pattern->fragment, cleanComponents(*url.fragment()), fragmentVariables)) {
      return URLRouteResult::failed();
    }
    for (auto& [name, value] : fragmentVariables) variables.insert_or_assign(name, std::move(value));
    return URLRouteResult::matched(std::move(variables));
  };
}

}  // namespace vantelkit

// Matching of URLs against a table of patterns: "clean/:group" captures a variable,
// "a/?opt" an optional one, "clean/*" lets anything follow, "#settings/:tab" matches the
// fragment. The last registration that matches wins.
// Thread safety: URLRouter is a value type without locks; fill it during set-up, then read it
// from any thread. Route functions are pure and safe to call from any thread.
#pragma once

#include <concepts>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vantelkit/platform/URL.h"

namespace vantelkit {

// The variables a pattern captured, by name.
using URLRouteVariables = std::map<std::string, std::string, std::less<>>;

// What a route answers for one URL: matched, with the captured variables, or failed.
class URLRouteResult {
 public:
  enum class Case { matched, failed };

  static URLRouteResult matched(URLRouteVariables variables) { return URLRouteResult(std::move(variables)); }
  static URLRouteResult failed() { return URLRouteResult(); }

  Case value() const { return _variables ? Case::matched : Case::failed; }
  bool isMatched() const { return _variables.has_value(); }
  // The captured variables of a match, or null.
  const URLRouteVariables* variables() const { return _variables ? &*_variables : nullptr; }

  bool operator==(const URLRouteResult&) const = default;

 private:
  URLRouteResult() = default;
  explicit URLRouteResult(URLRouteVariables variables) : _variables(std::move(variables)) {}
  std::optional<URLRouteVariables> _variables;
};

using URLRoute = std::function<URLRouteResult(const URL&)>;

// As a scheme: any scheme (or none). As a pattern component: any one component or nothing.
inline constexpr std::string_view URLRouterWildcard = "*";

// A route for the pattern path (see the opening comment), for URLs of the given scheme, or of
// any scheme when scheme is URLRouterWildcard. The pattern is prepared once, here. Path
// components of the URL exclude the host; a component is compared exactly, case included.
URLRoute URLPathRoute(std::string_view scheme, std::string_view path);

template <class V>
class URLRouter {
 public:
  using ValueFunction = std::function<V(const URLRouteVariables&)>;
  struct Entry {
    URLRoute route;
    ValueFunction valueFunction;
  };

  URLRouter() = default;

  void add(URLRoute route, V value) {
    routes.push_back({std::move(route), [value = std::move(value)](const URLRouteVariables&) { return value; }});
  }
  template <class F>
    requires std::invocable<F&, const URLRouteVariables&> &&
             std::convertible_to<std::invoke_result_t<F&, const URLRouteVariables&>, V>
  void add(URLRoute route, F valueFunction) {
    routes.push_back({std::move(route), ValueFunction(std::move(valueFunction))});
  }
  // A path pattern for any scheme.
  void add(std::string_view path, V value) { add(URLPathRoute(URLRouterWildcard, path), std::move(value)); }
  template <class F>
    requires std::invocable<F&, const URLRouteVariables&> &&
             std::convertible_to<std::invoke_result_t<F&, const URLRouteVariables&>, V>
  void add(std::string_view path, F valueFunction) {
    add(URLPathRoute(URLRouterWildcard, path), std::move(valueFunction));
  }
  void add(std::string_view scheme, std::string_view path, V value) {
    add(URLPathRoute(scheme, path), std::move(value));
  }
  template <class F>
    requires std::invocable<F&, const URLRouteVariables&> &&
             std::convertible_to<std::invoke_result_t<F&, const URLRouteVariables&>, V>
  void add(std::string_view scheme, std::string_view path, F valueFunction) {
    add(URLPathRoute(scheme, path), std::move(valueFunction));
  }

  // The value of the last added route that matches url, with the captured variables; none
  // when no route matches.
  std::optional<std::pair<V, URLRouteVariables>> match(const URL& url) const {
    for (auto entry = routes.rbegin(); entry != routes.rend(); ++entry) {
      URLRouteResult result = entry->route(url);
      if (const auto* variables = result.variables()) {
        return std::pair<V, URLRouteVariables>(entry->valueFunction(*variables), *variables);
      }
    }
    return std::nullopt;
  }

  // In registration order; only ever appended to.
  std::vector<Entry> routes;
};

}  // namespace vantelkit

// The rewriting an incoming link goes through before it is matched: percent-encoding and
// "about:blank" removed, and fragment-only or relative links placed under the base URL of the
// selected service environment. Thread safety: safe to call from any thread.
#pragma once

#include "vantelkit/platform/URL.h"

namespace vantelkit {

class RouteURLNormalizer {
 public:
  RouteURLNormalizer() = delete;

  // The rewritten URL; each step whose result is no valid URL leaves the URL as it was.
  // "#/clean" becomes base + "/#/clean", "clean" becomes base + "/clean".
  static URL normalize(const URL& url);
};

}  // namespace vantelkit

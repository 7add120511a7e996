// The rule that attributes a support file to an application by its name alone: the file's
// name, ignoring case, equals the name of one of the application's bundles or contains one of
// their bundle identifiers. A match says which text was found, so a user can judge it.
// Thread safety: immutable once built; safe to use from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/applications/BundleInfo.h"

namespace vantelkit {

class SupportFileMatcher {
 public:
  struct Match {
    enum class Kind { name, identifier };
    Kind kind;
    // The bundle whose name or identifier was found: an index into the bundles given.
    std::size_t bundleIndex;
    bool operator==(const Match&) const = default;
  };

  // Lower-cases the names and identifiers of bundles once. An empty identifier matches
  // nothing (it would otherwise be contained in every name).
  explicit SupportFileMatcher(const std::vector<BundleInfo>& bundles);

  // The first bundle, in order, whose name equals fileName ignoring case; else the first
  // whose identifier fileName contains ignoring case; else none.
  std::optional<Match> match(std::string_view fileName) const;

  // "name" or "identifier".
  static std::string_view kindName(Match::Kind kind);

 private:
  std::vector<std::string> _names;        // lower-cased, in bundle order
  std::vector<std::string> _identifiers;  // lower-cased, in bundle order
};

}  // namespace vantelkit

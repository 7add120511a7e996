// Localized texts of the library: looked up by key in the string table "Localizable" embedded
// in the library, optionally in front of it a table for one language. A fixed text is
// resolved once per key and kept; a format is looked up and filled in on each use.
// Thread safety: every member and function is safe to call from any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "vantelkit/foundation/StringTable.h"

namespace vantelkit {

// One argument of a format: a text (for "%@" and "%s") or an integer ("%d", "%ld", "%lu", ...).
using FormatArgument = std::variant<std::string, std::int64_t>;

// Fills in a format in the platform's printf style: "%%" becomes "%", "%@"/"%s" take a text,
// the integer conversions (d i u o x X, with h, l, ll, q, z, t, j lengths) take an integer,
// "%n$..." picks argument n. A conversion that has no argument, whose argument is of the
// wrong kind, or that is not supported (reals, "*" widths) stays in the result as written.
std::string formatText(std::string_view format, std::span<const FormatArgument> arguments = {});

class LocalizedStrings {
 public:
  // The embedded tables: "<locale>.lproj/Localizable.strings" (tried as given, then with the
  // language part alone: "pt_BR", then "pt") in front of "Localizable.strings". No locale, or
  // a locale without a table, gives the base table alone. A table that does not parse counts
  // as empty.
  explicit LocalizedStrings(std::optional<std::string> locale = std::nullopt);
  // Given tables, searched in order.
  explicit LocalizedStrings(std::vector<StringTable> tables);
  LocalizedStrings(const LocalizedStrings&) = delete;
  LocalizedStrings& operator=(const LocalizedStrings&) = delete;

  // The text for key with "%%" made "%", or key itself when no table has it. Resolved on the
  // first call for a key and kept for the life of this object.
  std::string text(std::string_view key) const;
  // The text for key (or key itself) filled in with arguments; looked up on every call.
  std::string format(std::string_view key, std::initializer_list<FormatArgument> arguments) const;
  // The raw table entry for key, or none.
  std::optional<std::string> rawText(std::string_view key) const;

  // The process-wide instance, built on first use with the locale set before (none by default).
  static const LocalizedStrings& shared();
  // Chooses the language of shared(). Answers false (and changes nothing) once shared() has
  // been built.
  static bool setSharedLocale(std::optional<std::string> locale);

 private:
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };

  std::vector<StringTable> _tables;
  mutable std::mutex _cacheMutex;
  // Guarded by _cacheMutex.
  mutable std::unordered_map<std::string, std::string, KeyHash, std::equal_to<>> _cache;
};

// LocalizedStrings::shared().text(key).
std::string localizedString(std::string_view key);
// LocalizedStrings::shared().format(key, arguments).
std::string localizedFormat(std::string_view key, std::initializer_list<FormatArgument> arguments);

}  // namespace vantelkit

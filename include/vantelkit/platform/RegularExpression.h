// A compiled regular expression (Perl-compatible syntax) that is looked for anywhere in a
// text, as searches by name need it.
// Thread safety: immutable once made; found() may be called from any thread at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vantelkit::platform {

class RegularExpression {
 public:
  struct Options {
    // Letters match in either case, by the Unicode rules.
    bool ignoreCase = false;
  };

  // The compiled pattern, or null with the reason in error ("missing ) at end of pattern at
  // offset 3").
  static std::shared_ptr<const RegularExpression> make(std::string_view pattern, Options options, std::string& error);

  ~RegularExpression();
  RegularExpression(const RegularExpression&) = delete;
  RegularExpression& operator=(const RegularExpression&) = delete;

  // Whether the pattern matches somewhere in text. Valid UTF-8 is matched character by
  // character; other text byte by byte, its ASCII letters folded when ignoring case.
  bool found(std::string_view text) const;

 private:
  struct Compiled;
  explicit RegularExpression(std::unique_ptr<Compiled> compiled);
  std::unique_ptr<Compiled> _compiled;
};

}  // namespace vantelkit::platform

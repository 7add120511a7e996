#include "vantelkit/platform/RegularExpression.h"

#include <glib.h>

namespace vantelkit::platform {

namespace {

GRegex* compile(const std::string& pattern, int flags, std::string& error) {
  GError* failure = nullptr;
  GRegex* regex = g_regex_new(pattern.c_str(), static_cast<GRegexCompileFlags>(flags | G_REGEX_OPTIMIZE),
                              static_cast<GRegexMatchFlags>(0), &failure);
  if (!regex) {
    error = failure && failure->message ? failure->message : "not a regular expression";
    if (failure) g_error_free(failure);
  }
  return regex;
}

}  // namespace

// One form for UTF-8 text and one, byte by byte, for names that are not.
struct RegularExpression::Compiled {
  GRegex* text = nullptr;
  GRegex* bytes = nullptr;
  ~Compiled() {
    if (text) g_regex_unref(text);
    if (bytes) g_regex_unref(bytes);
  }
};

std::shared_ptr<const RegularExpression> RegularExpression::make(std::string_view pattern, Options options,
                                                                 std::string& error) {
  const std::string terminated(pattern);
  if (terminated.find('\0') != std::string::npos) {
    error = "a NUL character cannot be matched";
    return nullptr;
  }
  const int caseFlags = options.ignoreCase ? G_REGEX_CASELESS : 0;
  auto compiled = std::make_unique<Compiled>();
  compiled->text = compile(terminated, caseFlags, error);
  if (!compiled->text) return nullptr;
  compiled->bytes = compile(terminated, caseFlags | G_REGEX_RAW, error);
  if (!compiled->bytes) return nullptr;
  return std::shared_ptr<const RegularExpression>(new RegularExpression(std::move(compiled)));
}

RegularExpression::RegularExpression(std::unique_ptr<Compiled> compiled) : _compiled(std::move(compiled)) {}

RegularExpression::~RegularExpression() = default;

bool RegularExpression::found(std::string_view text) const {
  const auto length = static_cast<gssize>(text.size());
  GRegex* regex = g_utf8_validate(text.data(), length, nullptr) ? _compiled->text : _compiled->bytes;
  return g_regex_match_full(regex, text.data(), length, 0, static_cast<GRegexMatchFlags>(0), nullptr, nullptr);
}

}  // namespace vantelkit::platform

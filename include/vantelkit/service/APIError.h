// The error record that the application's web service sends back, and its machine-readable
// code. Thread safety: value types; one owner at a time, const access from any thread.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantelkit {

struct APIError {
  class Code {
   public:
    enum Case { invalidJSON, forbidden, request };

    constexpr Code(Case value) : _value(value) {}  // NOLINT: a case is a code
    constexpr Case value() const { return _value; }

    // None for any text other than the three raw values ("invalid-json", "forbidden", "request").
    static std::optional<Code> fromRawValue(std::string_view rawValue);
    std::string_view rawValue() const;
    static constexpr std::array<Case, 3> allCases() { return {invalidJSON, forbidden, request}; }

    friend constexpr bool operator==(Code, Code) = default;

   private:
    Case _value;
  };

  std::optional<std::string> id;
  std::optional<Code> code;
  std::optional<std::string> title;
  std::optional<std::string> detail;
  std::vector<std::string> path;
  std::map<std::string, std::string> extra;

  bool operator==(const APIError&) const = default;
};

}  // namespace vantelkit

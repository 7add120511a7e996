#include "vantelkit/service/APIError.h"

namespace vantelkit {

std::optional<APIError::Code> APIError::Code::fromRawValue(std::string_view rawValue) {
  for (const auto code : allCases()) {
    if (Code(code).rawValue() == rawValue) return Code(code);
  }
  return std::nullopt;
}

std::string_view APIError::Code::rawValue() const {
  switch (_value) {
    case invalidJSON: return "invalid-json";
    case forbidden: return "forbidden";
    case request: return "request";
  }
  return "request";
}

}  // namespace vantelkit

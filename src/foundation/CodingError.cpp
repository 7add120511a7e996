#include "vantelkit/foundation/CodingError.h"

namespace vantelkit {

std::string_view CodingError::caseName(Code code) {
  switch (code) {
    case Code::fileUnreadable: return "fileUnreadable";
    case Code::writeFailed: return "writeFailed";
    case Code::dataCorrupted: return "dataCorrupted";
    case Code::limitExceeded: return "limitExceeded";
    case Code::invalidValue: return "invalidValue";
    case Code::typeMismatch: return "typeMismatch";
    case Code::keyNotFound: return "keyNotFound";
  }
  return "unknown";
}

std::string CodingError::description() const {
  std::string text(caseName(_code));
  if (_detail.empty() && _codingPath.empty()) return text;
  text += '(';
  text += _detail;
  if (!_codingPath.empty()) {
    if (!_detail.empty()) text += ", ";
    text += "at ";
    text += _codingPath;
  }
  text += ')';
  return text;
}

}  // namespace vantelkit

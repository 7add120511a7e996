#include "vantelkit/foundation/GeneralError.h"

namespace vantelkit {

std::string GeneralError::description() const {
  switch (_case) {
    case Case::featureNotAvalable:
      return "featureNotAvalable";
    case Case::unknown:
      return "unknown";
  }
  return "unknown";
}

std::string ProcedureKitError::description() const {
  switch (_case) {
    case Case::timedOut:
      return "timedOut";
    case Case::dependenciesFailed:
      return "dependenciesFailed";
    case Case::dependenciesCancelled:
      return "dependenciesCancelled";
    case Case::conditionFailed:
      return "conditionFailed";
  }
  return "conditionFailed";
}

}  // namespace vantelkit

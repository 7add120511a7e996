#include <time.h>

#include "vantelkit/platform/LocalTime.h"

namespace vantelkit::platform {

LocalDateTime localDateTimeNow() {
  const time_t now = time(nullptr);
  struct tm parts {};
  if (localtime_r(&now, &parts) == nullptr) return {};
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

}  // namespace vantelkit::platform

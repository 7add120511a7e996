#include "vantelkit/clean/StatisticsTimePeriod.h"

namespace vantelkit {

std::string_view localizedName(StatisticsTimePeriod period) {
  switch (period) {
    case StatisticsTimePeriod::tenSeconds: return "Ten seconds";
    case StatisticsTimePeriod::thirtySeconds: return "Thirty seconds";
    case StatisticsTimePeriod::minute: return "Minute";
    case StatisticsTimePeriod::threeMinutes: return "Three minutes";
  }
  return {};
}

}  // namespace vantelkit

// Time periods that the application offers for its statistics; fixed English names.
// Thread safety: plain values; every function is safe to call from any thread.
#pragma once

#include <array>
#include <string_view>

namespace vantelkit {

enum class StatisticsTimePeriod { tenSeconds, thirtySeconds, minute, threeMinutes };

inline constexpr std::array<StatisticsTimePeriod, 4> allStatisticsTimePeriods{
    StatisticsTimePeriod::tenSeconds, StatisticsTimePeriod::thirtySeconds, StatisticsTimePeriod::minute,
    StatisticsTimePeriod::threeMinutes};

// "Ten seconds", "Thirty seconds", "Minute", "Three minutes" (not looked up).
std::string_view localizedName(StatisticsTimePeriod period);

}  // namespace vantelkit

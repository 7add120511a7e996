// The phrases a clean scan shows while it works ("Digging through" ...), as localization keys.
// Thread safety: every function is safe to call from any thread.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vantelkit {

// The seventeen phrase keys in their fixed order.
inline constexpr std::array<std::string_view, 17> scanPhraseKeys{
    "clean_digging_through", "clean_browsing_through", "clean_flipping_through", "clean_inspecting",
    "clean_subdividing",     "clean_partitioning",     "clean_assessing",        "clean_studying",
    "clean_exploring",       "clean_probing",          "clean_scanning",         "clean_skimming_through",
    "clean_looking_in",      "clean_investigating",    "clean_traversing",       "clean_mapping",
    "clean_collecting",
};

// The localized text of one phrase, drawn uniformly at random on each call.
std::string randomScanPhrase();

}  // namespace vantelkit

#include "vantelkit/scanning/ScanPhrases.h"

#include <random>

#include "vantelkit/foundation/LocalizedStrings.h"

namespace vantelkit {

std::string randomScanPhrase() {
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, scanPhraseKeys.size() - 1);
  return localizedString(scanPhraseKeys[pick(generator)]);
}

}  // namespace vantelkit

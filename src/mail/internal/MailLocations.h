// The places in the user's home that the mail subsystem reads, in one place. Each goes
// through platform::Paths, so the home override applies.
#pragma once

#include <string>
#include <string_view>

#include "vantelkit/platform/Paths.h"

namespace vantelkit::internal {

inline std::string accountsDatabasePath() { return platform::Paths::inHome("Library/Accounts/Accounts4.sqlite"); }

inline std::string mailDownloadsPath() {
  return platform::Paths::inHome("Library/Containers/com.apple.mail/Data/Library/Mail Downloads");
}

// The folder where the mail client keeps the data of the account with this identifier.
inline std::string mailAccountFolderPath(std::string_view identifier) {
  return platform::Paths::inHome("Library/Mail/V7/" + std::string(identifier) + "/");
}

}  // namespace vantelkit::internal

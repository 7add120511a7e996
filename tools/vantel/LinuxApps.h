// The xdg layout of `vantel apps`: the applications of the desktop entries, what each keeps
// and why, and the leftovers no application owns.
#pragma once

#include <optional>
#include <string>

namespace vantel {

struct LinuxAppsOptions {
  std::optional<std::string> app;
  bool json = false;
  bool leftoversOnly = false;
};

// Runs the inventory (the root and home overrides already set) and prints it; answers the
// exit status.
int runLinuxApps(const LinuxAppsOptions& options);

}  // namespace vantel

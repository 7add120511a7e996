// Where the library looks on disk: the process-wide root and home overrides that point it at
// a prepared layout instead of the real system. The macOS paths of the library
// ("/Library/Logs", home + "/Library", "/Applications") are resolved through here.
// Thread safety: set the overrides before concurrent use; the getters are safe from any thread
// once set.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantelkit::platform {

class Paths {
 public:
  Paths() = delete;

  // A folder prepended to every system path ("/Library/Logs" becomes root + "/Library/Logs").
  // None (the default) uses the paths as they are.
  static void setRootOverride(std::optional<std::string> root);
  static std::optional<std::string> rootOverride();
  // The user's home folder to use instead of the real one. None (the default) uses the
  // platform's home folder.
  static void setHomeOverride(std::optional<std::string> home);

  // The home folder, without a trailing "/".
  static std::string home();
  // An absolute system path with the root override applied.
  static std::string system(std::string_view absolutePath);
  // A path below the home folder: home() + "/" + relative.
  static std::string inHome(std::string_view relative);
};

}  // namespace vantelkit::platform

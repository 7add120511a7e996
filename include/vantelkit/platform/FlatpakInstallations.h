// The Flatpak applications and runtimes installed on the machine: the system installation
// and the user's, each ref with its version and, for an application, the runtime it runs on.
// Reads only. Under a root override the installation below the root is read; under a home
// override (or a root override) the user's installation below the home's data folder.
// Thread safety: installed() may be called from any thread; shared() and setShared() too.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantelkit::platform {

struct FlatpakInstalledRef {
  enum class Kind { application, runtime };
  Kind kind = Kind::application;
  // "org.example.Editor", "org.freedesktop.Platform".
  std::string id;
  std::string arch;
  std::string branch;
  // The version its metadata announces, when it announces one.
  std::optional<std::string> version;
  // For an application: the runtime it runs on, as a ref without its kind
  // ("org.freedesktop.Platform/x86_64/23.08"); none for a runtime.
  std::optional<std::string> runtime;
  // "system" or "user".
  std::string installation;
  // The deployed files' folder.
  std::string deployDirectory;
  std::uint64_t installedSize = 0;

  // "app/ID/ARCH/BRANCH" or "runtime/ID/ARCH/BRANCH".
  std::string ref() const;
  bool operator==(const FlatpakInstalledRef&) const = default;
};

struct FlatpakListing {
  // Sorted by installation, then ref.
  std::vector<FlatpakInstalledRef> refs;
  // Why an installation could not be read ("user installation: ..."); an installation
  // whose folder does not exist is no failure.
  std::vector<std::string> failures;
};

class FlatpakInstallations {
 public:
  virtual ~FlatpakInstallations() = default;
  virtual FlatpakListing installed() = 0;

  // The libflatpak implementation.
  static std::shared_ptr<FlatpakInstallations> platformDefault();
  // The instance the library uses: platformDefault() unless a test set another.
  static std::shared_ptr<FlatpakInstallations> shared();
  // Null restores platformDefault().
  static void setShared(std::shared_ptr<FlatpakInstallations> installations);
};

}  // namespace vantelkit::platform

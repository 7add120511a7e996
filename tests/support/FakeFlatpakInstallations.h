// A Flatpak installation list that a test writes, for code that asks which Flatpaks are
// installed. Thread safety: set listing before use; installed() is then safe from any thread.
#pragma once

#include "vantelkit/platform/FlatpakInstallations.h"

namespace vantel::testing {

class FakeFlatpakInstallations final : public vantelkit::platform::FlatpakInstallations {
 public:
  vantelkit::platform::FlatpakListing listing;
  vantelkit::platform::FlatpakListing installed() override { return listing; }

  static vantelkit::platform::FlatpakInstalledRef application(std::string id, std::string version, std::string runtime) {
    vantelkit::platform::FlatpakInstalledRef ref;
    ref.id = std::move(id);
    ref.arch = "x86_64";
    ref.branch = "stable";
    ref.version = std::move(version);
    ref.runtime = std::move(runtime);
    ref.installation = "system";
    return ref;
  }
  static vantelkit::platform::FlatpakInstalledRef runtime(std::string id, std::string branch) {
    vantelkit::platform::FlatpakInstalledRef ref;
    ref.kind = vantelkit::platform::FlatpakInstalledRef::Kind::runtime;
    ref.id = std::move(id);
    ref.arch = "x86_64";
    ref.branch = std::move(branch);
    ref.installation = "system";
    return ref;
  }
};

}  // namespace vantel::testing

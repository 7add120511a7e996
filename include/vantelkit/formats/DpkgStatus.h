// The package database of Debian's dpkg, as its status file ("/var/lib/dpkg/status") and its
// file lists ("/var/lib/dpkg/info/<package>.list") hold it: which packages are installed, in
// which version and size, and which package installed a given file. Reads only.
// Thread safety: pure functions; call them from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vantelkit {

struct DpkgPackage {
  std::string name;
  std::string version;
  // Installed-Size, which dpkg keeps in KiB, as bytes; none when absent or not a number.
  std::optional<std::int64_t> installedSize;
  bool operator==(const DpkgPackage&) const = default;
};

// The installed packages of a status file's text ("Status: ... installed"), by name; a
// package of several architectures is kept once, under its name. Paragraphs without Package
// or Version, or not installed, are left out; continuation lines are skipped.
std::map<std::string, DpkgPackage, std::less<>> parseDpkgStatus(std::string_view text);

// The package name of a file list's file name ("chromium.list", "libc6:amd64.list"); none
// for other names.
std::optional<std::string> dpkgListPackageName(std::string_view fileName);

}  // namespace vantelkit

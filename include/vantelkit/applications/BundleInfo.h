// The identity of an application read from its bundle: name, identifier, vendor and
// version. A bundle without an identifier text, or with neither a name nor an executable
// text, is no application for this library.
// Thread safety: a value type; one owner at a time, const access from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/applications/BundleVersion.h"
#include "vantelkit/foundation/Value.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

struct BundleInfo {
  std::string name;
  std::string identifier;
  // The second dot-separated component of the identifier, or the empty text.
  std::string vendor;
  BundleVersion version;

  // Derives the vendor from the identifier.
  BundleInfo(std::string bundleName, std::string bundleIdentifier, BundleVersion version);

  // Reads the bundle at url: "CFBundleIdentifier" (text, required), "CFBundleName" or else
  // "CFBundleExecutable" (text, required), "CFBundleVersion" and
  // "CFBundleShortVersionString" (texts, optional). A value of another type counts as
  // missing. An empty name is replaced by the folder's name with every ".app" removed.
  // None when url is no readable bundle or a required key is missing.
  static std::optional<BundleInfo> fromURL(const FileURL& url);
  // The same reading from an information dictionary; bundleFolderName stands in for an
  // empty name.
  static std::optional<BundleInfo> fromInfoDictionary(const Value::Dictionary& info, std::string_view bundleFolderName);

  // Compares all fields.
  bool operator==(const BundleInfo&) const = default;
};

// The second dot-separated component of identifier, or the empty text when it has fewer
// than two.
std::string vendorOfIdentifier(std::string_view identifier);

}  // namespace vantelkit

// Hashes the identifier alone, so that a set or map groups entries by identifier.
template <>
struct std::hash<vantelkit::BundleInfo> {
  std::size_t operator()(const vantelkit::BundleInfo& info) const noexcept {
    return std::hash<std::string>{}(info.identifier);
  }
};

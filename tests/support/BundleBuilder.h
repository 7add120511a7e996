// Builds application bundles for tests: a folder with an information dictionary written as
// an XML or a binary property list, and optional resources. The writers themselves are the
// sample-file writers of tools/fixtures.
#pragma once

#include <string>
#include <string_view>

#include "fixtures/DemoHome.h"
#include "fixtures/PropertyListWriter.h"
#include "vantelkit/foundation/Value.h"

namespace vantelkit::testing {

using fixtures::binaryPropertyList;
using fixtures::PlistFormat;
using fixtures::propertyListBytes;
using fixtures::writeFile;

// Makes the folder at path and writes its "Contents/Info.plist" (or "Info.plist" for a
// shallow bundle). Returns path.
std::string writeBundle(const std::string& path, const Value& info, PlistFormat format = PlistFormat::xml,
                        bool shallow = false);

// A dictionary with "CFBundleIdentifier", "CFBundleName" and, when given, "CFBundleVersion".
Value::Dictionary applicationInfo(std::string_view identifier, std::string_view name,
                                  std::string_view version = {});

}  // namespace vantelkit::testing

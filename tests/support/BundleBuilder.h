// Builds application bundles for tests: a folder with an information dictionary written as
// an XML or a binary property list, and optional resources.
#pragma once

#include <string>
#include <string_view>

#include "vantelkit/foundation/Value.h"

namespace vantelkit::testing {

enum class PlistFormat { xml, binary };

// A binary property list ("bplist00") of value: texts, integers, booleans, data, arrays and
// dictionaries.
std::string binaryPropertyList(const Value& value);
// value in the given format.
std::string propertyListBytes(const Value& value, PlistFormat format);

// Writes bytes to path, making the missing parent folders.
void writeFile(const std::string& path, std::string_view bytes);

// Makes the folder at path and writes its "Contents/Info.plist" (or "Info.plist" for a
// shallow bundle). Returns path.
std::string writeBundle(const std::string& path, const Value& info, PlistFormat format = PlistFormat::xml,
                        bool shallow = false);

// A dictionary with "CFBundleIdentifier", "CFBundleName" and, when given, "CFBundleVersion".
Value::Dictionary applicationInfo(std::string_view identifier, std::string_view name,
                                  std::string_view version = {});

}  // namespace vantelkit::testing

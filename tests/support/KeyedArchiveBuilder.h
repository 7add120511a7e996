// Writes keyed archives for tests with libplist, independently of the library's own reader:
// well-formed ones from a value tree, and raw ones from a hand-made object list for the
// malformed cases.
#pragma once

#include <string>

#include "BundleBuilder.h"
#include "vantelkit/foundation/Value.h"

namespace vantelkit::testing {

// value as a property list written by libplist; ArchiveUid values become UIDs (in XML the
// "CF$UID" dictionaries). Throws std::invalid_argument for a date.
std::string libplistBytes(const Value& value, PlistFormat format);

// An archive as the archiver writes it, with root as its top-level object under "root":
// dictionaries become NSDictionary objects, arrays NSArray objects, dates NSDate objects;
// texts, integers, reals, booleans and data are objects of their own. Equal texts share one
// object, as the archiver's uniquing does.
std::string keyedArchive(const Value& root, PlistFormat format = PlistFormat::binary);

// An archive of the given objects ("$objects", the first of which should be "$null") with
// top as the value of "$top".
std::string rawKeyedArchive(const Value::Array& objects, const Value::Dictionary& top,
                            PlistFormat format = PlistFormat::binary);

// The class record of an archive object: {"$classname": name, "$classes": [name, "NSObject"]}.
Value classRecord(const std::string& name);

}  // namespace vantelkit::testing

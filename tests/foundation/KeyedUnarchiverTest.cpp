#include "vantelkit/foundation/KeyedUnarchiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/KeyedArchiveBuilder.h"
#include "vantelkit/formats/IcnsReader.h"

using namespace vantelkit;
using vantelkit::testing::classRecord;
using vantelkit::testing::keyedArchive;
using vantelkit::testing::PlistFormat;
using vantelkit::testing::rawKeyedArchive;

namespace {

using Code = CodingError::Code;
using Array = Value::Array;
using Dictionary = Value::Dictionary;

Value uid(std::uint64_t value) { return Value(ArchiveUid{value}); }

std::string readSample(const std::string& relative) {
  const std::filesystem::path path = std::filesystem::path(VANTEL_SAMPLES_DIR) / relative;
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

#define SAMPLE_OR_SKIP(variable, relative)                          \
  const std::string variable = readSample(relative);               \
  if (variable.empty()) GTEST_SKIP() << "no sample " << (relative)

// The top-level object of an archive that must decode, and be no null.
Value decoded(const std::string& bytes, KeyedUnarchiverOptions options = {}) {
  auto result = KeyedUnarchiver::unarchiveTopLevelObject(bytes, options);
  if (!result) {
    ADD_FAILURE() << result.error()->description();
    return Value();
  }
  if (!result->has_value()) {
    ADD_FAILURE() << "null top-level object";
    return Value();
  }
  return **result;
}

CodingError failure(const std::string& bytes, KeyedUnarchiverOptions options = {}) {
  auto result = KeyedUnarchiver::unarchiveTopLevelObject(bytes, options);
  if (result) {
    ADD_FAILURE() << "decoded where an error was expected";
    return CodingError(Code::dataCorrupted, {});
  }
  return *result.errorAs<CodingError>();
}

// An archive whose objects are given by hand, its top-level object under "root".
std::string archiveOf(const Array& objects, std::uint64_t root = 1, PlistFormat format = PlistFormat::binary) {
  return rawKeyedArchive(objects, {{"root", uid(root)}}, format);
}

Value arrayObject(std::uint64_t classUid, Array references) {
  return Value(Dictionary{{"$class", uid(classUid)}, {"NS.objects", Value(std::move(references))}});
}

TEST(KeyedUnarchiverTest, SamplesWrittenByTheArchiverDecode) {
  SAMPLE_OR_SKIP(icon, "keyed-archive/alacritty_icns_info_chunk.bplist");
  EXPECT_EQ(decoded(icon), Value(Dictionary{{"name", Value("icon")}}));

  // Top-level key "$0" instead of "root"; the text "string" is one object used as key and value.
  SAMPLE_OR_SKIP(dictionary, "keyed-archive/danielpaulus_dict.bin.plist");
  EXPECT_EQ(decoded(dictionary),
            Value(Dictionary{{"int", Value(1)},
                             {"string", Value("string")},
                             {"array", Value(Array{Value(true), Value("Hello, World!"), Value(42)})}}));
}

TEST(KeyedUnarchiverTest, ObjectsOfUnknownClassesAreErrorsUnlessAskedFor) {
  SAMPLE_OR_SKIP(collections, "keyed-archive/kiler129_collections.xml.plist");
  const CodingError error = failure(collections);
  EXPECT_EQ(error.code(), Code::typeMismatch);
  EXPECT_NE(error.detail().find("TestDummy"), std::string::npos);

  // A class record without "$classes" (XML archive); a set keeps its archive order.
  EXPECT_EQ(decoded(collections, {.decodeUnknownClasses = true}),
            Value(Dictionary{
                {"$classname", Value("TestDummy")},
                {"arrayOfInts", Value(Array{Value(1), Value(2), Value(3)})},
                {"arrayOfStrings", Value(Array{Value("foo"), Value("bar"), Value("baz")})},
                {"dictionary", Value(Dictionary{{"baz", Value("aaa")}, {"foo", Value("bar")}})},
                {"set", Value(Array{Value("is"), Value("ordered"), Value("not"), Value("set")})},
            }));

  // An application's own classes: null members are left out, inline numbers kept.
  SAMPLE_OR_SKIP(changeLog, "keyed-archive/bpylist2_fullChangeLog.bplist");
  EXPECT_EQ(failure(changeLog).code(), Code::typeMismatch);
  const Value table = decoded(changeLog, {.decodeUnknownClasses = true});
  EXPECT_EQ(*table.textFor("$classname"), "JNStreamTable");
  EXPECT_EQ(table.find("replyColumns"), nullptr);
  EXPECT_EQ(table.integerFor("rowHeader"), 2);
  ASSERT_NE(table.arrayFor("columns"), nullptr);
  ASSERT_EQ(table.arrayFor("columns")->size(), 7u);
  const Value& last = table.arrayFor("columns")->back();
  EXPECT_EQ(*last.textFor("$classname"), "JNStreamTableDictionaryColumn");
  EXPECT_EQ(*last.dictionaryFor("keyColumn")->at("stopValue").text(), "");
}

TEST(KeyedUnarchiverTest, TheInfoEntryOfIconFilesDecodes) {
  for (const char* name : {"icns/alacritty.icns", "icns/quicksilver_Find.icns"}) {
    SAMPLE_OR_SKIP(bytes, name);
    auto icns = readIcns(bytes);
    ASSERT_TRUE(icns) << name;
    bool found = false;
    for (const auto& entry : icns->entries) {
      if (entry.type != "info") continue;
      found = true;
      const Value info = decoded(bytes.substr(entry.offset, entry.length));
      EXPECT_NE(info.dictionary(), nullptr) << name;
    }
    EXPECT_TRUE(found) << name;
  }
}

TEST(KeyedUnarchiverTest, ValueTreesComeBackFromBothFormats) {
  const Value tree(Dictionary{
      {"text", Value("Grüße, 世界")},
      {"empty", Value("")},
      {"integer", Value(std::int64_t{-5'000'000'000})},
      {"real", Value(2.5)},
      {"flag", Value(false)},
      {"bytes", Value(Data{0, 1, 2, 255})},
      {"when", Value(Date{1'700'000'000.25})},
      {"nested", Value(Array{Value(Dictionary{}), Value(Array{}), Value("text")})},
  });
  EXPECT_EQ(decoded(keyedArchive(tree, PlistFormat::binary)), tree);
  EXPECT_EQ(decoded(keyedArchive(tree, PlistFormat::xml)), tree);
}

TEST(KeyedUnarchiverTest, StringDataAndDateObjectsInTheirKeyedForms) {
  const std::string archive = archiveOf({
      Value("$null"),
      arrayObject(8, {uid(2), uid(3), uid(4), uid(5), uid(6), uid(7)}),
      Value(Dictionary{{"$class", uid(9)}, {"NS.string", Value("mutable text")}}),
      Value(Dictionary{{"$class", uid(9)}, {"NS.bytes", Value(Data{'u', 't', 'f', 0xC3, 0xA9})}}),
      Value(Dictionary{{"$class", uid(10)}, {"NS.data", Value(Data{9, 8, 7})}}),
      Value(Dictionary{{"$class", uid(11)}, {"NS.time", Value(0.5)}}),
      Value(Dictionary{{"$class", uid(9)}, {"NS.string", uid(2)}}),  // a reference to a string object
      Value(Dictionary{{"$class", uid(12)}, {"NS.keys", Value(Array{})}, {"NS.objects", Value(Array{})}}),
      classRecord("NSMutableArray"),
      Value(Dictionary{{"$classname", Value("NSMutableString")},
                       {"$classes", Value(Array{Value("NSMutableString"), Value("NSString"), Value("NSObject")})}}),
      Value(Dictionary{{"$classname", Value("NSMutableData")},
                       {"$classes", Value(Array{Value("NSMutableData"), Value("NSData"), Value("NSObject")})}}),
      classRecord("NSDate"),
      Value(Dictionary{{"$classname", Value("__NSDictionaryI")},
                       {"$classes", Value(Array{Value("__NSDictionaryI"), Value("NSDictionary")})}}),
  });
  EXPECT_EQ(decoded(archive), Value(Array{Value("mutable text"), Value("utf\u00e9"), Value(Data{9, 8, 7}),
                                          Value(Date{978307200.5}), Value("mutable text"), Value(Dictionary{})}));
}

TEST(KeyedUnarchiverTest, ANullTopLevelObjectIsNoValueButANullInACollectionIsAnError) {
  auto top = KeyedUnarchiver::unarchiveTopLevelObject(archiveOf({Value("$null")}, 0));
  ASSERT_TRUE(top) << top.error()->description();
  EXPECT_FALSE(top->has_value());

  const std::string nullElement = archiveOf({Value("$null"), arrayObject(2, {uid(0)}), classRecord("NSArray")});
  EXPECT_EQ(failure(nullElement).code(), Code::dataCorrupted);
}

TEST(KeyedUnarchiverTest, SharedObjectsAppearAtEveryUse) {
  // One dictionary object referred to twice, and a key text that is also a value.
  const std::string archive = archiveOf({
      Value("$null"),
      arrayObject(5, {uid(2), uid(2), uid(3)}),
      Value(Dictionary{{"$class", uid(4)}, {"NS.keys", Value(Array{uid(3)})}, {"NS.objects", Value(Array{uid(3)})}}),
      Value("same"),
      classRecord("NSDictionary"),
      classRecord("NSArray"),
  });
  const Value shared(Dictionary{{"same", Value("same")}});
  EXPECT_EQ(decoded(archive), Value(Array{shared, shared, Value("same")}));
}

TEST(KeyedUnarchiverTest, AnArchiveThatExpandsExponentiallyIsRefusedQuickly) {
  // Object k is an array holding object k+1 twice: 2^40 leaves from 40 small objects.
  constexpr std::uint64_t kLevels = 40;
  const std::uint64_t classUid = kLevels + 2;
  Array objects{Value("$null")};
  for (std::uint64_t k = 1; k <= kLevels; ++k) objects.push_back(arrayObject(classUid, {uid(k + 1), uid(k + 1)}));
  objects.push_back(Value("leaf"));
  objects.push_back(classRecord("NSArray"));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(failure(archiveOf(objects)).code(), Code::limitExceeded);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

  // Large texts shared many times count by their bytes, not only as values.
  Array wide{Value("$null"), arrayObject(3, Array(100, uid(2))), Value(std::string(1 << 20, 'x')),
             classRecord("NSArray")};
  EXPECT_EQ(failure(archiveOf(wide, 1, PlistFormat::xml)).code(), Code::limitExceeded);
}

TEST(KeyedUnarchiverTest, CyclesAreErrors) {
  const std::string selfContaining = archiveOf({Value("$null"), arrayObject(2, {uid(1)}), classRecord("NSArray")});
  const CodingError error = failure(selfContaining);
  EXPECT_EQ(error.code(), Code::dataCorrupted);
  EXPECT_NE(error.detail().find("cycle"), std::string::npos);

  const std::string twoStep = archiveOf({Value("$null"), arrayObject(3, {uid(2)}), arrayObject(3, {uid(1)}),
                                         classRecord("NSSet")});
  EXPECT_EQ(failure(twoStep).code(), Code::dataCorrupted);
}

TEST(KeyedUnarchiverTest, ReferencesOutOfRangeAreErrors) {
  // Past the objects: from a collection, for a class, for the top-level object, huge.
  EXPECT_EQ(failure(archiveOf({Value("$null"), arrayObject(2, {uid(3)}), classRecord("NSArray")})).code(),
            Code::dataCorrupted);
  EXPECT_EQ(failure(archiveOf({Value("$null"), arrayObject(7, {})})).code(), Code::dataCorrupted);
  EXPECT_EQ(failure(archiveOf({Value("$null"), Value("x")}, 2)).code(), Code::dataCorrupted);
  EXPECT_EQ(failure(archiveOf({Value("$null"), arrayObject(2, {uid(~std::uint64_t{0})}), classRecord("NSArray")},
                              1, PlistFormat::binary))
                .code(),
            Code::dataCorrupted);
  // The null object as a class.
  EXPECT_EQ(failure(archiveOf({Value("$null"), arrayObject(0, {})})).code(), Code::dataCorrupted);
}

TEST(KeyedUnarchiverTest, DictionaryKeysMustBeText) {
  const std::string archive = archiveOf({
      Value("$null"),
      Value(Dictionary{{"$class", uid(4)}, {"NS.keys", Value(Array{uid(2)})}, {"NS.objects", Value(Array{uid(3)})}}),
      Value(7),
      Value("seven"),
      classRecord("NSDictionary"),
  });
  EXPECT_EQ(failure(archive).code(), Code::typeMismatch);

  const std::string uneven = archiveOf({
      Value("$null"),
      Value(Dictionary{{"$class", uid(3)}, {"NS.keys", Value(Array{uid(2)})}, {"NS.objects", Value(Array{})}}),
      Value("key"),
      classRecord("NSDictionary"),
  });
  EXPECT_EQ(failure(uneven).code(), Code::dataCorrupted);
}

TEST(KeyedUnarchiverTest, NestingBeyondTheLimitIsRefused) {
  auto nested = [](std::uint64_t levels) {
    Array objects{Value("$null")};
    for (std::uint64_t k = 1; k < levels; ++k) objects.push_back(arrayObject(levels + 1, {uid(k + 1)}));
    objects.push_back(arrayObject(levels + 1, {}));
    objects.push_back(classRecord("NSArray"));
    return archiveOf(objects);
  };
  EXPECT_TRUE(KeyedUnarchiver::unarchiveTopLevelObject(nested(KeyedUnarchiver::maximumDepth)));
  EXPECT_EQ(failure(nested(KeyedUnarchiver::maximumDepth + 2)).code(), Code::limitExceeded);
}

TEST(KeyedUnarchiverTest, InputThatIsNoKeyedArchiveIsAnError) {
  EXPECT_EQ(failure("").code(), Code::dataCorrupted);
  EXPECT_EQ(failure("not a property list").code(), Code::dataCorrupted);
  EXPECT_EQ(failure(vantelkit::testing::libplistBytes(Value(Dictionary{{"a", Value(1)}}), PlistFormat::binary)).code(),
            Code::dataCorrupted);
  // No object named "root" and more than one entry in "$top".
  const std::string twoTops = rawKeyedArchive({Value("$null"), Value("x")}, {{"a", uid(1)}, {"b", uid(1)}});
  EXPECT_EQ(failure(twoTops).code(), Code::keyNotFound);
  // An object that is no instance: a bare list.
  EXPECT_EQ(failure(archiveOf({Value("$null"), Value(Array{uid(0)})})).code(), Code::dataCorrupted);
  // A string object whose bytes are not UTF-8.
  const std::string badBytes = archiveOf({Value("$null"), Value(Dictionary{{"$class", uid(2)}, {"NS.bytes", Value(Data{0xFF})}}),
                                          classRecord("NSString")});
  EXPECT_EQ(failure(badBytes).code(), Code::dataCorrupted);
}

}  // namespace

#include "vantelkit/foundation/DictionaryDecoder.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <optional>
#include <string>

#include "foundation/CodingTestTypes.h"
#include "vantelkit/foundation/DictionaryEncoder.h"
#include "vantelkit/foundation/PropertyList.h"

namespace vantelkit {
namespace {

using codingtest::Event;
using codingtest::Location;
using codingtest::Release;
using codingtest::sampleEvent;
using Code = CodingError::Code;

TEST(DictionaryDecoderTest, Iso8601HandlesOffsetsFractionsAndOldDates) {
  DictionaryDecoder decoder;
  decoder.dateDecodingStrategy = DictionaryDecoder::DateDecodingStrategy::iso8601;
  auto when = [&](std::string text) -> std::optional<double> {
    Value::Dictionary dictionary = *DictionaryEncoder().encode(sampleEvent());
    dictionary["when"] = text;
    auto event = decoder.decode<Event>(dictionary);
    if (!event) return std::nullopt;
    return event->when.secondsSince1970;
  };
  EXPECT_EQ(when("1970-01-01T00:00:00Z"), 0.0);
  EXPECT_EQ(when("1970-01-01T02:00:00+02:00"), 0.0);
  EXPECT_EQ(when("1969-12-31T19:00:00-0500"), 0.0);
  EXPECT_EQ(when("1969-12-31T23:59:59Z"), -1.0);
  EXPECT_EQ(when("2000-02-29T00:00:00.250Z"), 951782400.25);
  EXPECT_EQ(when("1900-01-01T00:00:00Z"), -2208988800.0);
  for (const char* bad : {"2001-02-29T00:00:00Z", "2023-11-14 22:13:20Z", "2023-11-14T24:00:00Z", "2023-11-14T22:13:20",
                          "2023-13-01T00:00:00Z", "2023-11-14T22:13:20Zjunk", ""}) {
    EXPECT_EQ(when(bad), std::nullopt) << bad;
  }

  DictionaryEncoder encoder;
  encoder.dateEncodingStrategy = DictionaryEncoder::DateEncodingStrategy::iso8601;
  Event event = sampleEvent();
  event.when = Date{-0.5};  // rounds down to the whole second before
  EXPECT_EQ(encoder.encode(event)->at("when"), Value("1969-12-31T23:59:59Z"));
  event.when = Date{std::numeric_limits<double>::infinity()};
  auto infinite = encoder.encode(event);
  ASSERT_FALSE(infinite);
  EXPECT_EQ(infinite.errorAs<CodingError>()->codingPath(), "when");
}

TEST(DictionaryDecoderTest, DecodingFailuresNameTheKindAndThePlace) {
  const Value::Dictionary good = *DictionaryEncoder().encode(sampleEvent());
  DictionaryDecoder decoder;

  Value::Dictionary missing = good;
  missing.erase("name");
  auto keyNotFound = decoder.decode<Event>(missing);
  ASSERT_FALSE(keyNotFound);
  EXPECT_EQ(keyNotFound.errorAs<CodingError>()->code(), Code::keyNotFound);
  EXPECT_NE(keyNotFound.error()->description().find("name"), std::string::npos);

  Value::Dictionary wrongType = good;
  (*wrongType["location"].dictionary())["latitude"] = "north";
  auto mismatch = decoder.decode<Event>(wrongType);
  ASSERT_FALSE(mismatch);
  EXPECT_EQ(mismatch.errorAs<CodingError>()->code(), Code::typeMismatch);
  EXPECT_EQ(mismatch.errorAs<CodingError>()->codingPath(), "location.latitude");

  for (const Value& priority : {Value(300), Value(-1), Value(2.5)}) {
    Value::Dictionary outOfRange = good;
    outOfRange["priority"] = priority;
    auto result = decoder.decode<Event>(outOfRange);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.errorAs<CodingError>()->code(), Code::dataCorrupted);
    EXPECT_EQ(result.errorAs<CodingError>()->codingPath(), "priority");
  }
  Value::Dictionary integralReal = good;
  integralReal["priority"] = 9.0;
  EXPECT_EQ(decoder.decode<Event>(integralReal)->priority, 9);

  Value::Dictionary boolAsNumber = good;
  boolAsNumber["tags"] = Value::Array{true};
  EXPECT_FALSE(decoder.decode<Event>(boolAsNumber));

  // An optional is none when absent; a custom check fails with dataCorrupted.
  Value::Dictionary noAttendees = good;
  noAttendees.erase("attendees");
  auto optional = decoder.decode<Event>(noAttendees);
  ASSERT_TRUE(optional);
  EXPECT_EQ(optional->attendees, std::nullopt);

  auto badVersion = decoder.decode<Release>({{"version", "12"}, {"builds", Value::Array{}}, {"ratio", 1}});
  ASSERT_FALSE(badVersion);
  EXPECT_EQ(badVersion.errorAs<CodingError>()->code(), Code::dataCorrupted);
  EXPECT_EQ(badVersion.errorAs<CodingError>()->codingPath(), "version");
}

TEST(DictionaryDecoderTest, DecodesPropertyListDatesAndDataAsTheyAre) {
  auto plist = PropertyList::parse(R"(<plist version="1.0"><dict>
    <key>name</key><string>From a file</string>
    <key>when</key><date>2023-11-14T22:13:20Z</date>
    <key>payload</key><data>AAH/</data>
    <key>tags</key><array/>
    <key>scores</key><dict/>
    <key>location</key><dict><key>latitude</key><integer>1</integer><key>longitude</key><real>2.5</real></dict>
    <key>priority</key><integer>1</integer>
    <key>homeURLValue</key><string></string>
  </dict></plist>)");
  ASSERT_TRUE(plist);
  for (auto strategy : {DictionaryDecoder::DateDecodingStrategy::iso8601,
                        DictionaryDecoder::DateDecodingStrategy::millisecondsSince1970}) {
    DictionaryDecoder decoder;
    decoder.dateDecodingStrategy = strategy;
    decoder.dataDecodingStrategy = DictionaryDecoder::DataDecodingStrategy::deferredToData;
    auto event = decoder.decode<Event>(*plist->dictionary());
    ASSERT_TRUE(event) << event.error()->description();
    EXPECT_EQ(event->when, Date{1700000000});
    EXPECT_EQ(event->payload, (Data{0x00, 0x01, 0xFF}));
    EXPECT_EQ(event->location, (Location{1, 2.5}));
  }

  // A Value member takes any part of the dictionary back unchanged, UIDs included.
  const Value::Dictionary archive{{"$top", Value::Dictionary{{"root", ArchiveUid{1}}}}, {"when", Date{3.5}}};
  auto any = DictionaryDecoder().decode<std::map<std::string, Value>>(archive);
  ASSERT_TRUE(any) << any.error()->description();
  EXPECT_EQ(Value::Dictionary(any->begin(), any->end()), archive);
}

}  // namespace
}  // namespace vantelkit

#include "vantelkit/foundation/DictionaryEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/CodingTestTypes.h"
#include "vantelkit/foundation/DictionaryDecoder.h"

namespace vantelkit {
namespace {

using codingtest::Event;
using codingtest::Location;
using codingtest::Release;
using codingtest::sampleEvent;
using Code = CodingError::Code;

TEST(DictionaryEncoderTest, SecondsSince1970DatesAreNumbersAndDecodeBack) {
  DictionaryEncoder encoder;
  encoder.dateEncodingStrategy = DictionaryEncoder::DateEncodingStrategy::secondsSince1970;
  auto dictionary = encoder.encode(sampleEvent());
  ASSERT_TRUE(dictionary) << dictionary.error()->description();
  EXPECT_EQ(dictionary->at("when").number(), 1700000000.5);
  EXPECT_EQ(dictionary->at("attendees").integer(), 12);
  EXPECT_EQ(*dictionary->at("payload").text(), "ABD/");
  EXPECT_EQ(dictionary->at("location").find("latitude")->real(), 59.33);

  DictionaryDecoder decoder;
  decoder.dateDecodingStrategy = DictionaryDecoder::DateDecodingStrategy::secondsSince1970;
  auto event = decoder.decode<Event>(*dictionary);
  ASSERT_TRUE(event) << event.error()->description();
  EXPECT_EQ(*event, sampleEvent());
}

TEST(DictionaryEncoderTest, EveryDateStrategyRoundTrips) {
  struct Case {
    DictionaryEncoder::DateEncodingStrategy encoding;
    DictionaryDecoder::DateDecodingStrategy decoding;
    Value expected;
  };
  const std::vector<Case> cases{
      {DictionaryEncoder::DateEncodingStrategy::deferredToDate, DictionaryDecoder::DateDecodingStrategy::deferredToDate,
       Value(1700000000.0 - 978307200.0)},
      {DictionaryEncoder::DateEncodingStrategy::millisecondsSince1970,
       DictionaryDecoder::DateDecodingStrategy::millisecondsSince1970, Value(1700000000000.0)},
      {DictionaryEncoder::DateEncodingStrategy::iso8601, DictionaryDecoder::DateDecodingStrategy::iso8601,
       Value("2023-11-14T22:13:20Z")},
  };
  Event event = sampleEvent();
  event.when = Date{1700000000};
  for (const Case& c : cases) {
    DictionaryEncoder encoder;
    encoder.dateEncodingStrategy = c.encoding;
    auto dictionary = encoder.encode(event);
    ASSERT_TRUE(dictionary);
    EXPECT_EQ(dictionary->at("when"), c.expected);
    DictionaryDecoder decoder;
    decoder.dateDecodingStrategy = c.decoding;
    auto back = decoder.decode<Event>(*dictionary);
    ASSERT_TRUE(back) << back.error()->description();
    EXPECT_EQ(back->when, event.when);
  }
}

TEST(DictionaryEncoderTest, DataStrategies) {
  Event event = sampleEvent();
  DictionaryEncoder encoder;
  encoder.dataEncodingStrategy = DictionaryEncoder::DataEncodingStrategy::deferredToData;
  auto dictionary = encoder.encode(event);
  ASSERT_TRUE(dictionary);
  EXPECT_EQ(dictionary->at("payload"), Value(Value::Array{0, 16, 255}));

  DictionaryDecoder decoder;
  decoder.dataDecodingStrategy = DictionaryDecoder::DataDecodingStrategy::deferredToData;
  auto back = decoder.decode<Event>(*dictionary);
  ASSERT_TRUE(back) << back.error()->description();
  EXPECT_EQ(back->payload, event.payload);

  (*dictionary)["payload"] = Value::Array{1, 256};
  auto outOfRange = decoder.decode<Event>(*dictionary);
  ASSERT_FALSE(outOfRange);
  EXPECT_EQ(outOfRange.errorAs<CodingError>()->code(), Code::dataCorrupted);
  EXPECT_EQ(outOfRange.errorAs<CodingError>()->codingPath(), "payload[1]");

  // Every length of base64, and text that is not base64.
  DictionaryEncoder base64Encoder;
  DictionaryDecoder base64Decoder;
  for (std::size_t length = 0; length < 7; ++length) {
    event.payload = Data(length, 0xA5);
    auto encoded = base64Encoder.encode(event);
    ASSERT_TRUE(encoded);
    auto decoded = base64Decoder.decode<Event>(*encoded);
    ASSERT_TRUE(decoded) << length;
    EXPECT_EQ(decoded->payload, event.payload);
  }
  for (const char* bad : {"AAA", "A===", "AA=A", "AA*A"}) {
    Value::Dictionary broken = *base64Encoder.encode(event);
    broken["payload"] = bad;
    auto result = base64Decoder.decode<Event>(broken);
    ASSERT_FALSE(result) << bad;
    EXPECT_EQ(result.errorAs<CodingError>()->code(), Code::dataCorrupted);
  }
}

TEST(DictionaryEncoderTest, NonConformingFloatsFailOrBecomeTheGivenTexts) {
  Release release{{1, 2}, {}, std::numeric_limits<double>::infinity()};
  DictionaryEncoder encoder;
  auto refused = encoder.encode(release);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.errorAs<CodingError>()->code(), Code::invalidValue);
  EXPECT_EQ(refused.errorAs<CodingError>()->codingPath(), "ratio");

  encoder.nonConformingFloatEncodingStrategy =
      DictionaryEncoder::NonConformingFloatEncodingStrategy::convertingToString("+inf", "-inf", "nan");
  DictionaryDecoder decoder;
  decoder.nonConformingFloatDecodingStrategy =
      DictionaryDecoder::NonConformingFloatDecodingStrategy::convertingFromString("+inf", "-inf", "nan");
  for (double value : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::quiet_NaN()}) {
    release.ratio = value;
    auto dictionary = encoder.encode(release);
    ASSERT_TRUE(dictionary);
    ASSERT_NE(dictionary->at("ratio").text(), nullptr);
    auto back = decoder.decode<Release>(*dictionary);
    ASSERT_TRUE(back) << back.error()->description();
    if (std::isnan(value)) {
      EXPECT_TRUE(std::isnan(back->ratio));
    } else {
      EXPECT_EQ(back->ratio, value);
    }
  }
  // Without the texts, the text is a type mismatch.
  auto dictionary = encoder.encode(release);
  auto mismatch = DictionaryDecoder().decode<Release>(*dictionary);
  ASSERT_FALSE(mismatch);
  EXPECT_EQ(mismatch.errorAs<CodingError>()->code(), Code::typeMismatch);
}

TEST(DictionaryEncoderTest, SnakeCaseKeysRoundTripButMapKeysStayAsWritten) {
  EXPECT_EQ(DictionaryEncoder::convertToSnakeCase("myURLValue"), "my_url_value");
  EXPECT_EQ(DictionaryEncoder::convertToSnakeCase("oneTwoThree"), "one_two_three");
  EXPECT_EQ(DictionaryEncoder::convertToSnakeCase("value"), "value");
  EXPECT_EQ(DictionaryEncoder::convertToSnakeCase("endsWithURL"), "ends_with_url");
  EXPECT_EQ(DictionaryEncoder::convertToSnakeCase("version2Beta"), "version2_beta");
  EXPECT_EQ(DictionaryEncoder::convertToSnakeCase(""), "");
  EXPECT_EQ(DictionaryDecoder::convertFromSnakeCase("my_url_value"), "myUrlValue");
  EXPECT_EQ(DictionaryDecoder::convertFromSnakeCase("__private_key__"), "__privateKey__");
  EXPECT_EQ(DictionaryDecoder::convertFromSnakeCase("double__underscore"), "doubleUnderscore");
  EXPECT_EQ(DictionaryDecoder::convertFromSnakeCase("alreadyCamel"), "alreadyCamel");
  EXPECT_EQ(DictionaryDecoder::convertFromSnakeCase("SHOUTING_CASE"), "shoutingCase");
  EXPECT_EQ(DictionaryDecoder::convertFromSnakeCase("___"), "___");

  DictionaryEncoder encoder;
  encoder.keyEncodingStrategy = DictionaryEncoder::KeyEncodingStrategy::convertToSnakeCase;
  auto dictionary = encoder.encode(sampleEvent());
  ASSERT_TRUE(dictionary);
  EXPECT_TRUE(dictionary->contains("home_url_value"));
  EXPECT_FALSE(dictionary->contains("homeURLValue"));
  // Keys of a map are data, not names.
  EXPECT_TRUE(dictionary->at("scores").dictionary()->contains("myScore"));

  DictionaryDecoder decoder;
  decoder.keyDecodingStrategy = DictionaryDecoder::KeyDecodingStrategy::convertFromSnakeCase;
  auto back = decoder.decode<Event>(*dictionary);
  ASSERT_TRUE(back) << back.error()->description();
  EXPECT_EQ(*back, sampleEvent());

  // Without the strategy the snake-case keys are not found.
  auto missing = DictionaryDecoder().decode<Event>(*dictionary);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.errorAs<CodingError>()->code(), Code::keyNotFound);
}

TEST(DictionaryEncoderTest, ValuesThatAreNoDictionaryOrHaveNoJsonFormFail) {
  DictionaryEncoder encoder;
  for (auto result : {encoder.encode(42), encoder.encode(std::string("text")), encoder.encode(std::vector<int>{1, 2})}) {
    ASSERT_FALSE(result);
    EXPECT_EQ(result.errorAs<CodingError>()->code(), Code::invalidValue);
  }
  EXPECT_TRUE(encoder.encode(std::map<std::string, int>{}));

  Release release{{1, 0}, {1, std::nullopt, 3}, 0.5};
  auto withNull = encoder.encode(release);
  ASSERT_FALSE(withNull);
  EXPECT_EQ(withNull.errorAs<CodingError>()->codingPath(), "builds[1]");

  auto huge = encoder.encode(std::map<std::string, std::uint64_t>{{"n", std::numeric_limits<std::uint64_t>::max()}});
  ASSERT_FALSE(huge);
  EXPECT_EQ(huge.errorAs<CodingError>()->codingPath(), "n");

  auto badText = encoder.encode(std::map<std::string, std::string>{{"t", "\xFF"}});
  ASSERT_FALSE(badText);
  EXPECT_EQ(badText.errorAs<CodingError>()->code(), Code::invalidValue);

  auto uid = encoder.encode(std::map<std::string, Value>{{"ref", Value(ArchiveUid{1})}});
  ASSERT_FALSE(uid);
}

}  // namespace
}  // namespace vantelkit

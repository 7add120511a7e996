// Reads arbitrary bytes as a property list and decodes its dictionary into a record under
// every combination of strategies, then encodes what was decoded. Any crash, leak, hang or
// sanitizer report is a fault, and so is a decoded record that does not encode.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vantelkit/foundation/DictionaryDecoder.h"
#include "vantelkit/foundation/DictionaryEncoder.h"
#include "vantelkit/foundation/PropertyList.h"

namespace fuzzing {

using vantelkit::Data;
using vantelkit::Date;
using vantelkit::DecodingContainer;
using vantelkit::EncodingContainer;
using vantelkit::Value;

struct Inner {
  std::int8_t small = 0;
  std::uint32_t count = 0;
  float ratio = 0;
};

void encodeValue(EncodingContainer& container, const Inner& inner) {
  container.encode("small", inner.small);
  container.encode("count", inner.count);
  container.encode("ratio", inner.ratio);
}

void decodeValue(const DecodingContainer& container, Inner& inner) {
  container.decode("small", inner.small);
  container.decode("count", inner.count);
  container.decode("ratio", inner.ratio);
}

struct Record {
  std::string name;
  std::optional<Date> when;
  std::optional<Data> payload;
  std::vector<Inner> items;
  std::map<std::string, double> scores;
  std::optional<Value> extra;
  std::optional<bool> enabled;
  std::optional<std::int64_t> identifier;
};

void encodeValue(EncodingContainer& container, const Record& record) {
  container.encode("name", record.name);
  container.encode("when", record.when);
  container.encode("payload", record.payload);
  container.encode("items", record.items);
  container.encode("scores", record.scores);
  container.encode("extra", record.extra);
  container.encode("enabled", record.enabled);
  container.encode("identifierURL", record.identifier);
}

void decodeValue(const DecodingContainer& container, Record& record) {
  container.decode("name", record.name);
  container.decode("when", record.when);
  container.decode("payload", record.payload);
  container.decode("items", record.items);
  container.decode("scores", record.scores);
  container.decode("extra", record.extra);
  container.decode("enabled", record.enabled);
  container.decode("identifierURL", record.identifier);
}

}  // namespace fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantelkit;
  auto value = PropertyList::parse(std::span<const std::uint8_t>(data, size));
  if (!value || !value->dictionary()) return 0;
  const Value::Dictionary& dictionary = *value->dictionary();
  for (int variant = 0; variant < 16; ++variant) {
    DictionaryDecoder decoder;
    decoder.dateDecodingStrategy = static_cast<DictionaryDecoder::DateDecodingStrategy>(variant % 4);
    decoder.dataDecodingStrategy = variant / 4 % 2 ? DictionaryDecoder::DataDecodingStrategy::deferredToData
                                                   : DictionaryDecoder::DataDecodingStrategy::base64;
    decoder.keyDecodingStrategy = variant / 8 ? DictionaryDecoder::KeyDecodingStrategy::convertFromSnakeCase
                                              : DictionaryDecoder::KeyDecodingStrategy::useDefaultKeys;
    decoder.nonConformingFloatDecodingStrategy =
        DictionaryDecoder::NonConformingFloatDecodingStrategy::convertingFromString("inf", "-inf", "nan");
    auto record = decoder.decode<fuzzing::Record>(dictionary);
    if (!record) {
      if (record.error()->description().empty()) __builtin_trap();
      continue;
    }
    DictionaryEncoder encoder;
    encoder.nonConformingFloatEncodingStrategy =
        DictionaryEncoder::NonConformingFloatEncodingStrategy::convertingToString("inf", "-inf", "nan");
    auto encoded = encoder.encode(*record);
    // Only what JSON cannot hold may fail: an archive UID inside the free-form member, or
    // a date beyond what ISO 8601 text can show (the default strategy never needs it).
    if (!encoded && encoded.errorAs<CodingError>()->code() != CodingError::Code::invalidValue) __builtin_trap();
  }
  auto any = DictionaryDecoder().decode<std::map<std::string, Value>>(dictionary);
  if (!any) __builtin_trap();
  return 0;
}

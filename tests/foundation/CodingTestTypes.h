// Types that opt into dictionary coding, shared by the encoder and decoder tests.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/foundation/DictionaryDecoder.h"
#include "vantelkit/foundation/DictionaryEncoder.h"

namespace codingtest {

using vantelkit::Data;
using vantelkit::Date;
using vantelkit::DecodingContainer;
using vantelkit::EncodingContainer;

struct Location {
  double latitude = 0;
  double longitude = 0;
  bool operator==(const Location&) const = default;
};

inline void encodeValue(EncodingContainer& container, const Location& location) {
  container.encode("latitude", location.latitude);
  container.encode("longitude", location.longitude);
}

inline void decodeValue(const DecodingContainer& container, Location& location) {
  container.decode("latitude", location.latitude);
  container.decode("longitude", location.longitude);
}

// A type that opts into coding through encodeValue and decodeValue, found by name.
struct Event {
  std::string name;
  Date when;
  std::optional<int> attendees;
  Data payload;
  std::vector<std::string> tags;
  std::map<std::string, int> scores;
  Location location;
  std::uint8_t priority = 0;
  std::string homeURLValue;
  bool operator==(const Event&) const = default;
};

inline void encodeValue(EncodingContainer& container, const Event& event) {
  container.encode("name", event.name);
  container.encode("when", event.when);
  container.encode("attendees", event.attendees);
  container.encode("payload", event.payload);
  container.encode("tags", event.tags);
  container.encode("scores", event.scores);
  container.encode("location", event.location);
  container.encode("priority", event.priority);
  container.encode("homeURLValue", event.homeURLValue);
}

inline void decodeValue(const DecodingContainer& container, Event& event) {
  container.decode("name", event.name);
  container.decode("when", event.when);
  container.decode("attendees", event.attendees);
  container.decode("payload", event.payload);
  container.decode("tags", event.tags);
  container.decode("scores", event.scores);
  container.decode("location", event.location);
  container.decode("priority", event.priority);
  container.decode("homeURLValue", event.homeURLValue);
}

// A type whose own value is a single text.
struct Version {
  int major = 0;
  int minor = 0;
  bool operator==(const Version&) const = default;
};

inline void encodeValue(EncodingContainer& container, const Version& version) {
  container.encode(std::to_string(version.major) + "." + std::to_string(version.minor));
}

inline void decodeValue(const DecodingContainer& container, Version& version) {
  std::string text;
  if (!container.decode(text)) return;
  const auto dot = text.find('.');
  if (dot == std::string::npos) {
    container.fail("a version needs a dot");
    return;
  }
  version.major = std::stoi(text.substr(0, dot));
  version.minor = std::stoi(text.substr(dot + 1));
}

struct Release {
  Version version;
  std::vector<std::optional<int>> builds;
  double ratio = 0;
  bool operator==(const Release&) const = default;
};

inline void encodeValue(EncodingContainer& container, const Release& release) {
  container.encode("version", release.version);
  container.encode("builds", release.builds);
  container.encode("ratio", release.ratio);
}

inline void decodeValue(const DecodingContainer& container, Release& release) {
  container.decode("version", release.version);
  container.decode("builds", release.builds);
  container.decode("ratio", release.ratio);
}

inline Event sampleEvent() {
  Event event;
  event.name = "Launch";
  event.when = Date{1700000000.5};
  event.attendees = 12;
  event.payload = Data{0x00, 0x10, 0xFF};
  event.tags = {"a", "b"};
  event.scores = {{"myScore", 3}, {"other_one", 4}};
  event.location = {59.33, 18.06};
  event.priority = 7;
  event.homeURLValue = "https://example.org";
  return event;
}

}  // namespace codingtest

#include "vantelkit/foundation/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <system_error>
#include <vector>

#include <fmt/core.h>

#include "foundation/internal/CodingText.h"
#include "foundation/internal/Utf8.h"

namespace vantelkit {

namespace {

using Code = CodingError::Code;

// Seconds between 1970-01-01 and 2001-01-01, the reference date of property lists.
constexpr double kReferenceDateOffset = 978307200.0;

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};

CodingErrorPtr corrupted(std::string detail, std::string path = {}) {
  return makeCodingError(Code::dataCorrupted, std::move(detail), std::move(path));
}

// The most nodes a binary property list may expand to. Objects of a binary property list may
// be referenced more than once; each reference becomes a copy of the node, so a small file
// can describe an exponentially large tree. Written files share scalars, rarely more.
std::uint64_t nodeLimitFor(std::size_t inputSize) {
  return (std::uint64_t{1} << 20) + 16 * std::uint64_t{inputSize};
}

// ---------------------------------------------------------------------------------------
// Binary property lists: checked before libplist sees them, because its binary reader
// recurses once per nesting level and copies shared objects, and trusts sizes it reads.

class BinaryChecker {
 public:
  explicit BinaryChecker(std::span<const std::uint8_t> bytes) : _bytes(bytes) {}

  CodingErrorPtr check() {
    if (_bytes.size() < 8 + 1 + 1 + 32) return corrupted("binary property list is truncated");
    if (std::memcmp(_bytes.data(), "bplist00", 8) != 0) {
      return corrupted("unsupported binary property list version");
    }
    const std::size_t trailer = _bytes.size() - 32;
    _offsetSize = _bytes[trailer + 6];
    _referenceSize = _bytes[trailer + 7];
    const std::uint64_t objectCount = readUnsigned(trailer + 8, 8);
    const std::uint64_t topObject = readUnsigned(trailer + 16, 8);
    const std::uint64_t tableOffset = readUnsigned(trailer + 24, 8);
    if (!isValidIntegerSize(_offsetSize) || !isValidIntegerSize(_referenceSize)) {
      return corrupted("binary property list has an invalid offset or reference size");
    }
    if (tableOffset < 9 || tableOffset > trailer) {
      return corrupted("binary property list has an offset table outside the file");
    }
    if (objectCount == 0 || objectCount > (trailer - tableOffset) / _offsetSize) {
      return corrupted("binary property list has an invalid object count");
    }
    if (topObject >= objectCount) return corrupted("binary property list has an invalid top object");
    _objectsEnd = static_cast<std::size_t>(tableOffset);
    _objectCount = static_cast<std::size_t>(objectCount);
    for (std::size_t i = 0; i < _objectCount; ++i) {
      const std::uint64_t offset = readUnsigned(_objectsEnd + i * _offsetSize, _offsetSize);
      if (offset < 8 || offset >= _objectsEnd) {
        return corrupted(fmt::format("binary property list object {} lies outside the object area", i));
      }
    }
    return walk(static_cast<std::size_t>(topObject));
  }

 private:
  struct Object {
    std::uint8_t marker = 0;
    // For arrays, sets and dictionaries: where the references start and how many there are
    // (a dictionary's keys and values together).
    std::size_t referencesStart = 0;
    std::uint64_t referenceCount = 0;
    std::size_t keyCount = 0;
  };

  struct Frame {
    std::size_t index;
    Object object;
    std::uint64_t nextChild = 0;
    int height = 0;
    std::uint64_t nodes = 1;
  };

  static bool isValidIntegerSize(std::size_t size) { return size == 1 || size == 2 || size == 4 || size == 8; }

  bool isValidUtf16(std::size_t at, std::size_t units) const {
    for (std::size_t i = 0; i < units; ++i) {
      const auto unit = static_cast<std::uint16_t>(readUnsigned(at + 2 * i, 2));
      if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i + 1 == units) return false;
        const auto next = static_cast<std::uint16_t>(readUnsigned(at + 2 * (i + 1), 2));
        if (next < 0xDC00 || next > 0xDFFF) return false;
        ++i;
      }
    }
    return true;
  }

  // Where object index starts; check() has made sure every offset lies in the object area.
  std::size_t offsetOf(std::size_t index) const {
    return static_cast<std::size_t>(readUnsigned(_objectsEnd + index * _offsetSize, _offsetSize));
  }

  std::uint64_t readUnsigned(std::size_t at, std::size_t size) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | _bytes[at + i];
    return value;
  }

  // Parses the header of object index: its marker, its extent and, for collections, where
  // its references are. Fails when the object is malformed or leaves the object area.
  CodingErrorPtr parseObject(std::size_t index, Object& object) const {
    std::size_t at = offsetOf(index);
    const std::uint8_t marker = _bytes[at];
    object.marker = marker;
    const std::uint8_t kind = marker >> 4;
    const std::uint8_t low = marker & 0x0F;
    auto fits = [&](std::size_t start, std::uint64_t length) { return length <= _objectsEnd - start; };
    auto bad = [&](std::string_view what) {
      return corrupted(fmt::format("binary property list object {} {}", index, what));
    };
    // Collections and variable-length scalars carry a count: the low nibble, or 0xF and an
    // integer object that follows.
    auto readCount = [&](std::uint64_t& count, std::size_t& next) -> bool {
      next = at + 1;
      if (low != 0x0F) {
        count = low;
        return true;
      }
      if (!fits(next, 1)) return false;
      const std::uint8_t intMarker = _bytes[next];
      if (intMarker >> 4 != 0x1 || (intMarker & 0x0F) > 3) return false;
      const std::size_t size = std::size_t{1} << (intMarker & 0x0F);
      if (!fits(next + 1, size)) return false;
      count = readUnsigned(next + 1, size);
      next += 1 + size;
      return true;
    };
    switch (kind) {
      case 0x0:
        if (marker != 0x08 && marker != 0x09) return bad("has an unsupported null or fill marker");
        return nullptr;
      case 0x1:
        if (low > 4 || !fits(at + 1, std::uint64_t{1} << low)) return bad("is a malformed integer");
        // Sixteen bytes hold unsigned values above the signed 64-bit range, which libplist
        // would wrap to negative numbers.
        if (low == 4 && (readUnsigned(at + 1, 8) != 0 || readUnsigned(at + 9, 8) >> 63 != 0)) {
          return bad("is an integer beyond the signed 64-bit range");
        }
        return nullptr;
      case 0x2:
        if ((low != 2 && low != 3) || !fits(at + 1, std::uint64_t{1} << low)) return bad("is a malformed real");
        return nullptr;
      case 0x3:
        if (marker != 0x33 || !fits(at + 1, 8)) return bad("is a malformed date");
        return nullptr;
      case 0x4:
      case 0x5:
      case 0x6: {
        std::uint64_t count = 0;
        std::size_t next = 0;
        if (!readCount(count, next)) return bad("has a malformed length");
        if (kind == 0x6) {
          if (count > _objectsEnd / 2) return bad("is longer than the file");
          count *= 2;
        }
        if (!fits(next, count)) return bad("is longer than the file");
        // libplist cuts text short at a NUL character (and aborts on such a key), and
        // silently drops what follows an unpaired surrogate.
        if (kind != 0x4) {
          const std::size_t unit = kind == 0x6 ? 2 : 1;
          for (std::size_t i = next; i < next + count; i += unit) {
            if (readUnsigned(i, unit) == 0) return bad("is text with a NUL character");
          }
        }
        if (kind == 0x6 && !isValidUtf16(next, static_cast<std::size_t>(count / 2))) {
          return bad("is text that is not valid UTF-16");
        }
        return nullptr;
      }
      case 0x8:
        if (low + 1u > 8 || !fits(at + 1, low + 1u)) return bad("is a malformed UID");
        return nullptr;
      case 0xA:
      case 0xC:
      case 0xD: {
        std::uint64_t count = 0;
        std::size_t next = 0;
        if (!readCount(count, next)) return bad("has a malformed element count");
        const std::uint64_t references = kind == 0xD ? count * 2 : count;
        if (count > _objectsEnd || !fits(next, references * _referenceSize)) return bad("is longer than the file");
        object.referencesStart = next;
        object.referenceCount = references;
        object.keyCount = kind == 0xD ? static_cast<std::size_t>(count) : 0;
        return nullptr;
      }
      default:
        return bad(fmt::format("has the unknown type marker 0x{:02x}", marker));
    }
  }

  // A dictionary key must be text (parseObject refuses NUL characters in text).
  CodingErrorPtr checkKey(std::size_t index) const {
    Object key;
    if (auto error = parseObject(index, key)) return error;
    const std::uint8_t kind = key.marker >> 4;
    if (kind != 0x5 && kind != 0x6) {
      return corrupted(fmt::format("binary property list object {} is a key that is not a string", index));
    }
    return nullptr;
  }

  // Visits every object reachable from the top, depth first without recursion: checks each
  // object, refuses cycles, and measures the nesting height and the size of the expanded tree.
  CodingErrorPtr walk(std::size_t top) {
    enum class State : std::uint8_t { unvisited, active, done };
    std::vector<State> state(_objectCount, State::unvisited);
    std::vector<int> heights(_objectCount, 0);
    std::vector<std::uint64_t> nodeCounts(_objectCount, 0);
    std::vector<bool> keyChecked(_objectCount, false);
    const std::uint64_t nodeLimit = nodeLimitFor(_bytes.size());
    std::vector<Frame> stack;
    auto enter = [&](std::size_t index) -> CodingErrorPtr {
      Frame frame{index, {}};
      if (auto error = parseObject(index, frame.object)) return error;
      state[index] = State::active;
      stack.push_back(frame);
      if (stack.size() > static_cast<std::size_t>(PropertyList::maximumDepth) + 1) {
        return makeCodingError(Code::limitExceeded,
                               fmt::format("nesting deeper than {} levels", PropertyList::maximumDepth));
      }
      return nullptr;
    };
    if (auto error = enter(top)) return error;
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.nextChild < frame.object.referenceCount) {
        const std::uint64_t position = frame.nextChild++;
        const std::uint64_t child =
            readUnsigned(frame.object.referencesStart + static_cast<std::size_t>(position) * _referenceSize,
                         _referenceSize);
        if (child >= _objectCount) {
          return corrupted(fmt::format("binary property list object {} refers to a missing object", frame.index));
        }
        const auto childIndex = static_cast<std::size_t>(child);
        if (position < frame.object.keyCount && !keyChecked[childIndex]) {
          if (auto error = checkKey(childIndex)) return error;
          keyChecked[childIndex] = true;
        }
        switch (state[childIndex]) {
          case State::active:
            return corrupted("binary property list object graph has a cycle");
          case State::done:
            frame.height = std::max(frame.height, heights[childIndex]);
            frame.nodes = std::min(frame.nodes + nodeCounts[childIndex], nodeLimit + 1);
            break;
          case State::unvisited:
            if (auto error = enter(childIndex)) return error;
            break;
        }
        continue;
      }
      const bool isCollection = frame.object.marker >> 4 == 0xA || frame.object.marker >> 4 == 0xC ||
                                frame.object.marker >> 4 == 0xD;
      const int height = frame.height + (isCollection ? 1 : 0);
      const std::uint64_t nodes = frame.nodes;
      const std::size_t index = frame.index;
      if (nodes > nodeLimit) {
        return makeCodingError(Code::limitExceeded,
                               fmt::format("binary property list expands to more than {} values", nodeLimit));
      }
      state[index] = State::done;
      heights[index] = height;
      nodeCounts[index] = nodes;
      stack.pop_back();
      if (!stack.empty()) {
        Frame& parent = stack.back();
        parent.height = std::max(parent.height, height);
        parent.nodes = std::min(parent.nodes + nodes, nodeLimit + 1);
      }
    }
    return nullptr;
  }

  std::span<const std::uint8_t> _bytes;
  std::size_t _offsetSize = 0;
  std::size_t _referenceSize = 0;
  std::size_t _objectsEnd = 0;
  std::size_t _objectCount = 0;
};

// ---------------------------------------------------------------------------------------
// XML property lists: libplist's XML reader keeps its own stack, but freeing and converting
// the tree recurse, so the element nesting is measured first; and it reads malformed
// numbers, dates and data as zero or empty, so their text is checked too.

bool startsWith(std::string_view text, std::size_t at, std::string_view prefix) {
  return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Decimal or 0x-hexadecimal, with a sign, within the signed 64-bit range.
bool isValidInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  std::uint64_t magnitude = 0;
  for (char c : text) {
    if (base == 10 ? (c < '0' || c > '9') : !isHexDigit(c)) return false;
    const std::uint64_t digit = c <= '9' ? static_cast<std::uint64_t>(c - '0')
                                         : static_cast<std::uint64_t>((c | 0x20) - 'a' + 10);
    if (magnitude > (UINT64_MAX - digit) / static_cast<std::uint64_t>(base)) return false;
    magnitude = magnitude * static_cast<std::uint64_t>(base) + digit;
  }
  const std::uint64_t limit = std::uint64_t{1} << 63;
  return negative ? magnitude <= limit : magnitude < limit;
}

bool isValidReal(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return end == text.data() + text.size() && (error == std::errc() || error == std::errc::result_out_of_range);
}

// The value of text that isValidReal accepted, read the same in every locale.
double realValue(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Too large or too small to represent: from_chars leaves value alone.
    const std::size_t exponent = text.find_first_of("eE");
    const bool tiny = exponent != std::string_view::npos && exponent + 1 < text.size() && text[exponent + 1] == '-';
    const double magnitude = tiny ? 0.0 : HUGE_VAL;
    return text[0] == '-' ? -magnitude : magnitude;
  }
  return value;
}

bool isValidDate(std::string_view text) {
  // The one form property lists use: "2001-01-01T00:00:00Z".
  return text.size() == 20 && text[19] == 'Z' && internal::iso8601Parse(text).has_value();
}

bool isValidBase64Text(std::string_view text) {
  for (char c : text) {
    const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                       c == '/' || c == '=' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (!valid) return false;
  }
  return true;
}

// libplist reads unparsable <integer>, <real>, <date> and <data> contents as zero or empty,
// and wraps integers beyond 64 bits; their text is checked here instead.
CodingErrorPtr checkScalar(std::string_view name, std::string_view content) {
  bool valid = true;
  if (name == "integer") {
    valid = isValidInteger(trimmed(content));
  } else if (name == "real") {
    valid = isValidReal(trimmed(content));
  } else if (name == "date") {
    valid = isValidDate(trimmed(content));
  } else if (name == "data") {
    valid = isValidBase64Text(content);
  }
  if (valid) return nullptr;
  constexpr std::size_t kShown = 40;
  std::string shown(content.substr(0, kShown));
  for (char& c : shown) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  return corrupted(fmt::format("<{}> holds \"{}{}\", which is not a valid {}", name, shown,
                               content.size() > kShown ? "..." : "", name == "data" ? "base64 text" : name));
}

// The <real> values of an XML property list in document order, read by us: libplist reads
// them with strtod, which follows the process's numeric locale and reads "0.5" as 0 where
// the decimal point is a comma.
struct XmlReals {
  std::vector<double> values;
  std::size_t next = 0;
  bool misaligned = false;
};

// Measures element nesting, checks the text of scalar elements and collects the reals.
CodingErrorPtr checkXml(std::string_view text, XmlReals& reals) {
  // plist, the collections themselves and a leaf element.
  const int limit = PropertyList::maximumDepth + 3;
  int depth = 0;
  std::size_t at = 0;
  auto skipPast = [&](std::string_view terminator) {
    const std::size_t end = text.find(terminator, at);
    at = end == std::string_view::npos ? text.size() : end + terminator.size();
  };
  while ((at = text.find('<', at)) != std::string_view::npos) {
    if (startsWith(text, at, "<!--")) {
      at += 4;
      skipPast("-->");
    } else if (startsWith(text, at, "<![CDATA[")) {
      at += 9;
      skipPast("]]>");
    } else if (startsWith(text, at, "<?")) {
      at += 2;
      skipPast("?>");
    } else if (startsWith(text, at, "<!")) {
      at += 2;
      skipPast(">");
    } else if (startsWith(text, at, "</")) {
      at += 2;
      depth = std::max(0, depth - 1);
      skipPast(">");
    } else {
      const std::size_t end = text.find('>', at + 1);
      if (end == std::string_view::npos) break;
      if (text[end - 1] != '/') {
        if (++depth > limit) {
          return makeCodingError(Code::limitExceeded,
                                 fmt::format("nesting deeper than {} levels", PropertyList::maximumDepth));
        }
        const std::string_view tag = text.substr(at + 1, end - at - 1);
        const std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n"));
        if (name == "integer" || name == "real" || name == "date" || name == "data") {
          const std::size_t contentEnd = text.find('<', end + 1);
          if (contentEnd == std::string_view::npos) break;
          const std::string_view content = text.substr(end + 1, contentEnd - end - 1);
          if (auto error = checkScalar(name, content)) return error;
          if (name == "real") reals.values.push_back(realValue(trimmed(content)));
          if (!startsWith(text, contentEnd, fmt::format("</{}", name))) {
            return corrupted(fmt::format("<{}> holds markup", name));
          }
        }
      }
      at = end + 1;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// libplist nodes to values.

std::string appendKey(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string appendIndex(const std::string& path, std::size_t index) { return fmt::format("{}[{}]", path, index); }

// libplist hands dates out as whole seconds and microseconds in 32-bit fields, which loses
// dates beyond 2069 and the sign of dates just before 2001. Its binary form holds the exact
// double, so the date node is written out alone and read back.
CodingResult<Date> dateOf(plist_t node) {
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(node, &bytes, &length);
  std::unique_ptr<char, MallocDeleter> owner(bytes);
  if (!bytes || length < 17 || static_cast<std::uint8_t>(bytes[8]) != 0x33) {
    return corrupted("date could not be read");
  }
  std::uint64_t raw = 0;
  for (int i = 0; i < 8; ++i) raw = raw << 8 | static_cast<std::uint8_t>(bytes[9 + i]);
  return Date{std::bit_cast<double>(raw) + kReferenceDateOffset};
}

CodingResult<Value> toValue(plist_t node, int depth, const std::string& path, XmlReals* reals);

CodingResult<Value> dictionaryToValue(plist_t node, int depth, const std::string& path, XmlReals* reals) {
  Value::Dictionary dictionary;
  plist_dict_iter rawIterator = nullptr;
  plist_dict_new_iter(node, &rawIterator);
  std::unique_ptr<void, MallocDeleter> iterator(rawIterator);
  if (!iterator) return corrupted("dictionary could not be read", path);
  while (true) {
    char* rawKey = nullptr;
    plist_t item = nullptr;
    plist_dict_next_item(node, iterator.get(), &rawKey, &item);
    std::unique_ptr<char, MallocDeleter> key(rawKey);
    if (!item) break;
    if (!key) return corrupted("dictionary key could not be read", path);
    std::string_view keyText(key.get());
    if (!internal::isValidUtf8(keyText)) return corrupted("dictionary key is not UTF-8", path);
    auto member = toValue(item, depth, appendKey(path, keyText), reals);
    if (!member) return member.codingErrorPointer();
    dictionary.insert_or_assign(std::string(keyText), std::move(member).value());
  }
  // The XML form of a keyed archive's object reference.
  if (dictionary.size() == 1) {
    if (auto uid = dictionary.begin()->second.integer(); uid && dictionary.begin()->first == "CF$UID") {
      return Value(ArchiveUid{static_cast<std::uint64_t>(*uid)});
    }
  }
  return Value(std::move(dictionary));
}

// reals: the reals of the XML text to use instead of libplist's, or null.
CodingResult<Value> toValue(plist_t node, int depth, const std::string& path, XmlReals* reals) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return Value(value != 0);
    }
    case PLIST_UINT: {
      std::uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return Value(static_cast<std::int64_t>(value));
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      if (reals) {
        if (reals->next < reals->values.size()) {
          value = reals->values[reals->next];
        } else {
          reals->misaligned = true;
        }
        ++reals->next;
      }
      return Value(value);
    }
    case PLIST_STRING: {
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      if (!text) return corrupted("text could not be read", path);
      std::string_view view(text, static_cast<std::size_t>(length));
      if (!internal::isValidUtf8(view)) return corrupted("text is not UTF-8", path);
      return Value(view);
    }
    case PLIST_KEY: {
      char* raw = nullptr;
      plist_get_key_val(node, &raw);
      std::unique_ptr<char, MallocDeleter> text(raw);
      if (!text) return corrupted("key could not be read", path);
      std::string_view view(text.get());
      if (!internal::isValidUtf8(view)) return corrupted("key is not UTF-8", path);
      return Value(view);
    }
    case PLIST_DATE: {
      auto date = dateOf(node);
      if (!date) return date.codingErrorPointer();
      return Value(*date);
    }
    case PLIST_DATA: {
      std::uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      if (!bytes && length != 0) return corrupted("data could not be read", path);
      const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes);
      return Value(Data(begin, begin + length));
    }
    case PLIST_UID: {
      std::uint64_t value = 0;
      plist_get_uid_val(node, &value);
      return Value(ArchiveUid{value});
    }
    case PLIST_ARRAY: {
      if (depth >= PropertyList::maximumDepth) {
        return makeCodingError(Code::limitExceeded,
                               fmt::format("nesting deeper than {} levels", PropertyList::maximumDepth), path);
      }
      const std::uint32_t count = plist_array_get_size(node);
      Value::Array array;
      array.reserve(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        plist_t item = plist_array_get_item(node, i);
        if (!item) return corrupted("array element could not be read", appendIndex(path, i));
        auto element = toValue(item, depth + 1, appendIndex(path, i), reals);
        if (!element) return element.codingErrorPointer();
        array.push_back(std::move(element).value());
      }
      return Value(std::move(array));
    }
    case PLIST_DICT:
      if (depth >= PropertyList::maximumDepth) {
        return makeCodingError(Code::limitExceeded,
                               fmt::format("nesting deeper than {} levels", PropertyList::maximumDepth), path);
      }
      return dictionaryToValue(node, depth + 1, path, reals);
    case PLIST_NONE:
    default:
      return corrupted("value of an unknown type", path);
  }
}

// ---------------------------------------------------------------------------------------
// Values to libplist nodes.

// libplist makes dates from 32-bit seconds; a binary date object carries the full double.
PlistHandle makeDateNode(Date date) {
  std::uint8_t bytes[8 + 9 + 1 + 32] = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x33};
  const auto raw = std::bit_cast<std::uint64_t>(date.secondsSince1970 - kReferenceDateOffset);
  for (int i = 0; i < 8; ++i) bytes[9 + i] = static_cast<std::uint8_t>(raw >> (56 - 8 * i));
  bytes[17] = 8;  // the offset of the only object
  std::uint8_t* trailer = bytes + 18;
  trailer[6] = 1;   // offset size
  trailer[7] = 1;   // reference size
  trailer[15] = 1;  // one object
  trailer[31] = 17;  // the offset table's position
  plist_t node = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(bytes), sizeof bytes, &node);
  return PlistHandle(node);
}

CodingErrorPtr checkText(std::string_view text, const std::string& path, std::string_view what) {
  if (!internal::isValidUtf8(text)) {
    return makeCodingError(Code::invalidValue, fmt::format("{} is not UTF-8", what), path);
  }
  if (text.find('\0') != std::string_view::npos) {
    return makeCodingError(Code::invalidValue, fmt::format("{} holds a NUL character", what), path);
  }
  return nullptr;
}

CodingResult<PlistHandle> toNode(const Value& value, int depth, const std::string& path) {
  auto tooDeep = [&] {
    return makeCodingError(Code::limitExceeded, fmt::format("nesting deeper than {} levels", PropertyList::maximumDepth),
                           path);
  };
  switch (value.type()) {
    case Value::Type::text:
      if (auto error = checkText(*value.text(), path, "text")) return error;
      return PlistHandle(plist_new_string(value.text()->c_str()));
    case Value::Type::integer:
      return PlistHandle(plist_new_uint(static_cast<std::uint64_t>(*value.integer())));
    case Value::Type::real:
      return PlistHandle(plist_new_real(*value.real()));
    case Value::Type::boolean:
      return PlistHandle(plist_new_bool(*value.boolean() ? 1 : 0));
    case Value::Type::date: {
      // XML holds whole seconds; libplist would round toward 2001 rather than down.
      const Date date{std::floor(value.date()->secondsSince1970)};
      if (!internal::iso8601Format(date)) {
        return makeCodingError(Code::invalidValue, "a date outside the years 0 to 9999 has no XML form", path);
      }
      auto node = makeDateNode(date);
      if (!node) return makeCodingError(Code::invalidValue, "date could not be written", path);
      return node;
    }
    case Value::Type::data: {
      const Data& data = *value.data();
      return PlistHandle(plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));
    }
    case Value::Type::uid:
      return PlistHandle(plist_new_uid(value.uid()->value));
    case Value::Type::array: {
      if (depth >= PropertyList::maximumDepth) return tooDeep();
      PlistHandle array(plist_new_array());
      std::size_t index = 0;
      for (const Value& element : *value.array()) {
        auto child = toNode(element, depth + 1, appendIndex(path, index++));
        if (!child) return child.codingErrorPointer();
        plist_array_append_item(array.get(), child->release());
      }
      return array;
    }
    case Value::Type::dictionary: {
      if (depth >= PropertyList::maximumDepth) return tooDeep();
      PlistHandle dictionary(plist_new_dict());
      // The map is ordered by key bytes, and libplist writes members in insertion order.
      for (const auto& [key, member] : *value.dictionary()) {
        if (auto error = checkText(key, path, "dictionary key")) return error;
        auto child = toNode(member, depth + 1, appendKey(path, key));
        if (!child) return child.codingErrorPointer();
        plist_dict_set_item(dictionary.get(), key.c_str(), child->release());
      }
      return dictionary;
    }
  }
  return makeCodingError(Code::invalidValue, "value of an unknown type", path);
}

CodingResult<std::string> readFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return makeCodingError(Code::fileUnreadable, fmt::format("no readable file at {}", path.string()));
  }
  const auto size = std::filesystem::file_size(path, error);
  if (error) return makeCodingError(Code::fileUnreadable, fmt::format("cannot read {}: {}", path.string(), error.message()));
  if (size > PropertyList::maximumSize) {
    return makeCodingError(Code::limitExceeded, fmt::format("{} is larger than {} bytes", path.string(),
                                                            PropertyList::maximumSize));
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return makeCodingError(Code::fileUnreadable, fmt::format("cannot open {}", path.string()));
  std::string bytes;
  // Read up to one byte past the expected size, in case the file grew since its size was taken.
  bytes.resize(static_cast<std::size_t>(size) + 1);
  stream.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (stream.bad()) return makeCodingError(Code::fileUnreadable, fmt::format("cannot read {}", path.string()));
  bytes.resize(static_cast<std::size_t>(stream.gcount()));
  if (bytes.size() > size) {
    return makeCodingError(Code::fileUnreadable, fmt::format("{} changed while it was read", path.string()));
  }
  return bytes;
}

}  // namespace

CodingResult<Value> PropertyList::parse(std::string_view bytes) {
  return parse(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

CodingResult<Value> PropertyList::parse(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > maximumSize) {
    return makeCodingError(Code::limitExceeded, fmt::format("property list is larger than {} bytes", maximumSize));
  }
  if (bytes.empty()) return corrupted("property list is empty");
  plist_t raw = nullptr;
  const char* data = reinterpret_cast<const char*>(bytes.data());
  const auto length = static_cast<std::uint32_t>(bytes.size());
  if (bytes.size() >= 6 && std::memcmp(data, "bplist", 6) == 0) {
    if (auto error = BinaryChecker(bytes).check()) return error;
    plist_from_bin(data, length, &raw);
  } else {
    const std::string_view text(data, bytes.size());
    // XML forbids NUL characters, and libplist would cut keys short at one.
    if (text.find('\0') != std::string_view::npos) return corrupted("XML property list holds a NUL character");
    XmlReals reals;
    if (auto error = checkXml(text, reals)) return error;
    plist_from_xml(data, length, &raw);
    PlistHandle root(raw);
    if (!root) return corrupted("not a well-formed property list");
    auto value = toValue(root.get(), 0, {}, &reals);
    if (!value || (!reals.misaligned && reals.next == reals.values.size())) return value;
    // libplist kept other reals than the text shows (a repeated key replaces an earlier
    // member): its own values are right only where the decimal point is '.'.
    if (std::string_view(std::localeconv()->decimal_point) != ".") {
      return corrupted("the reals of this property list cannot be read in the current numeric locale");
    }
    return toValue(root.get(), 0, {}, nullptr);
  }
  PlistHandle root(raw);
  if (!root) return corrupted("not a well-formed property list");
  return toValue(root.get(), 0, {}, nullptr);
}

CodingResult<Value> PropertyList::parseFile(const std::filesystem::path& path) {
  auto bytes = readFile(path);
  if (!bytes) return bytes.codingErrorPointer();
  auto value = parse(*bytes);
  if (!value) {
    const CodingError& error = value.error();
    return makeCodingError(error.code(), fmt::format("{} in {}", error.detail(), path.string()), error.codingPath());
  }
  return value;
}

CodingResult<std::optional<Value::Dictionary>> PropertyList::load(const std::filesystem::path& path) {
  auto value = parseFile(path);
  if (!value) {
    if (value.error().code() == Code::fileUnreadable) return std::optional<Value::Dictionary>();
    return value.codingErrorPointer();
  }
  if (auto* dictionary = value->dictionary()) return std::optional<Value::Dictionary>(std::move(*dictionary));
  return std::optional<Value::Dictionary>();
}

CodingResult<std::string> PropertyList::xmlData(const Value& value) {
  auto node = toNode(value, 0, {});
  if (!node) return node.codingErrorPointer();
  char* raw = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(node->get(), &raw, &length);
  std::unique_ptr<char, MallocDeleter> xml(raw);
  if (!xml) return makeCodingError(Code::invalidValue, "value could not be written as a property list");
  return std::string(xml.get(), length);
}

CodingResult<void> PropertyList::save(const Value::Dictionary& dictionary, const std::filesystem::path& path) {
  auto xml = xmlData(Value(dictionary));
  if (!xml) return xml.codingErrorPointer();
  if (path.filename().empty()) {
    return makeCodingError(Code::writeFailed, fmt::format("{} does not name a file", path.string()));
  }
  std::random_device entropy;
  const std::uint64_t suffix = (std::uint64_t{entropy()} << 32) ^ entropy();
  std::filesystem::path temporary = path;
  temporary.replace_filename(fmt::format(".{}.{:016x}.tmp", path.filename().string(), suffix));
  auto fail = [&](std::string reason) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return makeCodingError(Code::writeFailed, fmt::format("cannot write {}: {}", path.string(), reason));
  };
  {
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    if (!stream) return fail("cannot create a temporary file in its folder");
    stream.write(xml->data(), static_cast<std::streamsize>(xml->size()));
    stream.close();
    if (!stream) return fail("writing the temporary file failed");
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) return fail(error.message());
  return {};
}

}  // namespace vantelkit

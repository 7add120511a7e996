#include "foundation/internal/PropertyListInput.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include <fmt/core.h>

#include "foundation/internal/CodingText.h"

namespace vantelkit::internal {

namespace {

using Code = CodingError::Code;

CodingErrorPtr corrupted(std::string detail) { return makeCodingError(Code::dataCorrupted, std::move(detail)); }

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
  BinaryChecker(std::span<const std::uint8_t> bytes, int maximumDepth) : _bytes(bytes), _maximumDepth(maximumDepth) {}

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

  static bool isValidIntegerSize(std::size_t size) { return size >= 1 && size <= 8; }

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
      if (stack.size() > static_cast<std::size_t>(_maximumDepth) + 1) {
        return makeCodingError(Code::limitExceeded,
                               fmt::format("nesting deeper than {} levels", _maximumDepth));
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
  int _maximumDepth;
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

// Measures element nesting, checks the text of scalar elements and collects the reals.
CodingErrorPtr checkXml(std::string_view text, int maximumDepth, XmlReals& reals) {
  // plist, the collections themselves and a leaf element.
  const int limit = maximumDepth + 3;
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
                                 fmt::format("nesting deeper than {} levels", maximumDepth));
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

}  // namespace

CodingErrorPtr checkBinaryPropertyList(std::span<const std::uint8_t> bytes, int maximumDepth) {
  return BinaryChecker(bytes, maximumDepth).check();
}

CodingErrorPtr checkXmlPropertyList(std::string_view text, int maximumDepth, XmlReals& reals) {
  return checkXml(text, maximumDepth, reals);
}

}  // namespace vantelkit::internal

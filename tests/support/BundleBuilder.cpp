#include "BundleBuilder.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "vantelkit/foundation/PropertyList.h"

namespace vantelkit::testing {

namespace {

void appendBigEndian(std::string& out, std::uint64_t value, int bytes) {
  for (int k = bytes - 1; k >= 0; --k) out.push_back(static_cast<char>((value >> (8 * k)) & 0xFF));
}

void appendMarkerAndCount(std::string& out, std::uint8_t marker, std::size_t count) {
  if (count < 15) {
    out.push_back(static_cast<char>(marker | count));
    return;
  }
  out.push_back(static_cast<char>(marker | 0x0F));
  out.push_back(static_cast<char>(0x13));
  appendBigEndian(out, count, 8);
}

std::u16string utf16(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::uint32_t code;
    std::size_t length;
    if (lead < 0x80) code = lead, length = 1;
    else if ((lead & 0xE0) == 0xC0) code = lead & 0x1F, length = 2;
    else if ((lead & 0xF0) == 0xE0) code = lead & 0x0F, length = 3;
    else code = lead & 0x07, length = 4;
    for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

class BinaryWriter {
 public:
  std::size_t add(const Value& value) {
    const std::size_t index = _objects.size();
    _objects.emplace_back();
    std::string bytes;
    switch (value.type()) {
      case Value::Type::text: {
        const std::string& text = *value.text();
        bool ascii = true;
        for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) {
          appendMarkerAndCount(bytes, 0x50, text.size());
          bytes += text;
        } else {
          const std::u16string units = utf16(text);
          appendMarkerAndCount(bytes, 0x60, units.size());
          for (char16_t unit : units) appendBigEndian(bytes, unit, 2);
        }
        break;
      }
      case Value::Type::integer:
        bytes.push_back(static_cast<char>(0x13));
        appendBigEndian(bytes, static_cast<std::uint64_t>(*value.integer()), 8);
        break;
      case Value::Type::boolean: bytes.push_back(static_cast<char>(*value.boolean() ? 0x09 : 0x08)); break;
      case Value::Type::data:
        appendMarkerAndCount(bytes, 0x40, value.data()->size());
        bytes.append(value.data()->begin(), value.data()->end());
        break;
      case Value::Type::array: {
        std::vector<std::size_t> references;
        for (const auto& member : *value.array()) references.push_back(add(member));
        appendMarkerAndCount(bytes, 0xA0, references.size());
        for (std::size_t reference : references) appendBigEndian(bytes, reference, 2);
        break;
      }
      case Value::Type::dictionary: {
        std::vector<std::size_t> keys;
        std::vector<std::size_t> values;
        for (const auto& [key, member] : *value.dictionary()) {
          keys.push_back(add(Value(key)));
          values.push_back(add(member));
        }
        appendMarkerAndCount(bytes, 0xD0, keys.size());
        for (std::size_t reference : keys) appendBigEndian(bytes, reference, 2);
        for (std::size_t reference : values) appendBigEndian(bytes, reference, 2);
        break;
      }
      default: throw std::invalid_argument("binaryPropertyList: unsupported value type");
    }
    _objects[index] = std::move(bytes);
    return index;
  }

  std::string finish() const {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& object : _objects) {
      offsets.push_back(out.size());
      out += object;
    }
    const std::uint64_t tableOffset = out.size();
    for (std::uint64_t offset : offsets) appendBigEndian(out, offset, 8);
    out.append(6, '\0');
    out.push_back(8);  // offset size
    out.push_back(2);  // reference size
    appendBigEndian(out, _objects.size(), 8);
    appendBigEndian(out, 0, 8);  // the top object is the first one added
    appendBigEndian(out, tableOffset, 8);
    return out;
  }

 private:
  std::vector<std::string> _objects;
};

}  // namespace

std::string binaryPropertyList(const Value& value) {
  BinaryWriter writer;
  writer.add(value);
  return writer.finish();
}

std::string propertyListBytes(const Value& value, PlistFormat format) {
  if (format == PlistFormat::binary) return binaryPropertyList(value);
  auto xml = PropertyList::xmlData(value);
  if (!xml) throw std::invalid_argument("propertyListBytes: " + xml.error().description());
  return std::move(xml).value();
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("writeFile failed: " + path);
}

std::string writeBundle(const std::string& path, const Value& info, PlistFormat format, bool shallow) {
  std::filesystem::create_directories(path);
  writeFile(path + (shallow ? "/Info.plist" : "/Contents/Info.plist"), propertyListBytes(info, format));
  return path;
}

Value::Dictionary applicationInfo(std::string_view identifier, std::string_view name, std::string_view version) {
  Value::Dictionary info{{"CFBundleIdentifier", Value(identifier)}, {"CFBundleName", Value(name)}};
  if (!version.empty()) info.emplace("CFBundleVersion", Value(version));
  return info;
}

}  // namespace vantelkit::testing

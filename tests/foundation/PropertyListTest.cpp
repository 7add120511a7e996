#include "vantelkit/foundation/PropertyList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace vantelkit {
namespace {

namespace fs = std::filesystem;
using Code = CodingError::Code;

// Writes binary property lists object by object, so tests can make valid and hostile
// files without a second property-list library. References are 4 bytes and offsets 8 unless
// set otherwise.
class BinaryWriter {
 public:
  using Bytes = std::vector<std::uint8_t>;

  std::size_t add(Bytes object) {
    _objects.push_back(std::move(object));
    return _objects.size() - 1;
  }
  std::size_t ascii(std::string_view text) { return add(withCount(0x50, text.size(), text)); }
  std::size_t utf16(std::u16string_view text) {
    Bytes bytes = header(0x60, text.size());
    for (char16_t unit : text) {
      bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
      bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    return add(bytes);
  }
  std::size_t integer(std::int64_t value) {
    Bytes bytes{0x13};
    appendBigEndian(bytes, static_cast<std::uint64_t>(value), 8);
    return add(bytes);
  }
  std::size_t real(double value) {
    Bytes bytes{0x23};
    appendBigEndian(bytes, std::bit_cast<std::uint64_t>(value), 8);
    return add(bytes);
  }
  // Seconds since 2001, as the format stores them.
  std::size_t date(double sinceReferenceDate) {
    Bytes bytes{0x33};
    appendBigEndian(bytes, std::bit_cast<std::uint64_t>(sinceReferenceDate), 8);
    return add(bytes);
  }
  std::size_t uid(std::uint8_t value) { return add({0x80, value}); }
  std::size_t data(const Bytes& payload) {
    Bytes bytes = header(0x40, payload.size());
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return add(bytes);
  }
  std::size_t array(const std::vector<std::size_t>& elements) { return add(collection(0xA0, elements, {})); }
  std::size_t dictionary(const std::vector<std::size_t>& keys, const std::vector<std::size_t>& values) {
    return add(collection(0xD0, keys, values));
  }
  void setIntegerSizes(int offsetSize, int referenceSize) {
    _offsetSize = offsetSize;
    _referenceSize = referenceSize;
  }
  // Reserves an object to be set later, for references to objects not yet written.
  void set(std::size_t index, Bytes object) { _objects[index] = std::move(object); }
  Bytes arrayBytes(const std::vector<std::size_t>& elements) { return collection(0xA0, elements, {}); }

  std::string build(std::size_t top) const {
    Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint64_t> offsets;
    for (const Bytes& object : _objects) {
      offsets.push_back(out.size());
      out.insert(out.end(), object.begin(), object.end());
    }
    const std::uint64_t tableOffset = out.size();
    for (std::uint64_t offset : offsets) appendBigEndian(out, offset, _offsetSize);
    Bytes trailer(6, 0);
    trailer.push_back(static_cast<std::uint8_t>(_offsetSize));
    trailer.push_back(static_cast<std::uint8_t>(_referenceSize));
    appendBigEndian(trailer, _objects.size(), 8);
    appendBigEndian(trailer, top, 8);
    appendBigEndian(trailer, tableOffset, 8);
    out.insert(out.end(), trailer.begin(), trailer.end());
    return std::string(out.begin(), out.end());
  }

 private:
  static void appendBigEndian(Bytes& bytes, std::uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) bytes.push_back(i >= 8 ? 0 : static_cast<std::uint8_t>(value >> (8 * i)));
  }
  static Bytes header(std::uint8_t kind, std::size_t count) {
    if (count < 15) return {static_cast<std::uint8_t>(kind | count)};
    Bytes bytes{static_cast<std::uint8_t>(kind | 0x0F), 0x13};
    appendBigEndian(bytes, count, 8);
    return bytes;
  }
  static Bytes withCount(std::uint8_t kind, std::size_t count, std::string_view payload) {
    Bytes bytes = header(kind, count);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
  }
  Bytes collection(std::uint8_t kind, const std::vector<std::size_t>& first,
                   const std::vector<std::size_t>& second) const {
    Bytes bytes = header(kind, first.size());
    for (std::size_t ref : first) appendBigEndian(bytes, ref, _referenceSize);
    for (std::size_t ref : second) appendBigEndian(bytes, ref, _referenceSize);
    return bytes;
  }

  std::vector<Bytes> _objects;
  int _offsetSize = 8;
  int _referenceSize = 4;
};

std::string xmlPlist(std::string_view body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + std::string(body) + "\n</plist>\n";
}

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::random_device entropy;
    _path = fs::temp_directory_path() / ("vantel-plist-" + std::to_string(entropy()) + std::to_string(entropy()));
    fs::create_directories(_path);
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(_path, ignored);
  }
  const fs::path& path() const { return _path; }
  std::vector<std::string> names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(_path)) names.push_back(entry.path().filename().string());
    return names;
  }

 private:
  fs::path _path;
};

void writeFile(const fs::path& path, std::string_view bytes) {
  std::ofstream stream(path, std::ios::binary);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(PropertyListTest, ParsesEveryXmlTypeIntoValues) {
  auto result = PropertyList::parse(xmlPlist(R"(<dict>
    <key>text</key><string>caf&#233; &amp; more</string>
    <key>negative</key><integer>-42</integer>
    <key>big</key><integer>9223372036854775807</integer>
    <key>real</key><real>2.5</real>
    <key>yes</key><true/>
    <key>no</key><false/>
    <key>epoch</key><date>1970-01-01T00:00:10Z</date>
    <key>far</key><date>4001-01-01T00:00:00Z</date>
    <key>bytes</key><data>AAH/</data>
    <key>list</key><array><string>a</string><integer>1</integer><array/></array>
    <key>reference</key><dict><key>CF$UID</key><integer>7</integer></dict>
    <key>empty</key><dict/>
  </dict>)"));
  ASSERT_TRUE(result) << result.error()->description();
  const Value& value = *result;
  EXPECT_EQ(*value.textFor("text"), "caf\xC3\xA9 & more");
  EXPECT_EQ(value.integerFor("negative"), -42);
  EXPECT_EQ(value.integerFor("big"), INT64_MAX);
  EXPECT_EQ(value.find("real")->real(), 2.5);
  EXPECT_EQ(value.booleanFor("yes"), true);
  EXPECT_EQ(value.booleanFor("no"), false);
  EXPECT_EQ(value.find("epoch")->date(), Date{10});
  // Beyond the 32-bit seconds that libplist's date accessors carry.
  EXPECT_EQ(value.find("far")->date(), Date{64092211200});
  EXPECT_EQ(*value.find("bytes")->data(), (Data{0x00, 0x01, 0xFF}));
  EXPECT_EQ(*value.arrayFor("list"), (Value::Array{"a", 1, Value::Array{}}));
  EXPECT_EQ(value.find("reference")->uid(), ArchiveUid{7});
  EXPECT_TRUE(value.dictionaryFor("empty")->empty());
}

TEST(PropertyListTest, ParsesBinaryTypesExactly) {
  BinaryWriter writer;
  std::vector<std::size_t> keys{writer.ascii("date"), writer.ascii("before2001"), writer.ascii("uid"),
                                writer.ascii("unicode"), writer.ascii("real"), writer.ascii("data"),
                                writer.ascii("negative"), writer.ascii("long")};
  std::vector<std::size_t> values{writer.date(1.25),
                                  writer.date(-0.5),
                                  writer.uid(3),
                                  writer.utf16(u"\u00e9\U0001F600"),
                                  writer.real(0.1),
                                  writer.data({1, 2, 3}),
                                  writer.integer(-7),
                                  writer.ascii(std::string(40, 'x'))};
  auto top = writer.dictionary(keys, values);
  auto result = PropertyList::parse(writer.build(top));
  ASSERT_TRUE(result) << result.error()->description();
  EXPECT_EQ(result->find("date")->date(), Date{978307201.25});
  EXPECT_EQ(result->find("before2001")->date(), Date{978307199.5});
  EXPECT_EQ(result->find("uid")->uid(), ArchiveUid{3});
  EXPECT_EQ(*result->textFor("unicode"), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(result->find("real")->real(), 0.1);
  EXPECT_EQ(*result->find("data")->data(), (Data{1, 2, 3}));
  EXPECT_EQ(result->integerFor("negative"), -7);
  EXPECT_EQ(*result->textFor("long"), std::string(40, 'x'));
}

TEST(PropertyListTest, ReadsBinaryListsWithEveryOffsetAndReferenceWidth) {
  // Writers pick the narrowest width that holds the file's offsets and object count: three
  // bytes for files between 64 KiB and 16 MiB, any width from one to eight in general.
  for (int width = 1; width <= 8; ++width) {
    BinaryWriter writer;
    writer.setIntegerSizes(width, width);
    auto key = writer.ascii("name");
    auto value = writer.ascii("Terminal");
    auto parsed = PropertyList::parse(writer.build(writer.dictionary({key}, {value})));
    ASSERT_TRUE(parsed) << "width " << width << ": " << parsed.error()->description();
    EXPECT_EQ(*parsed->textFor("name"), "Terminal") << "width " << width;
  }
  BinaryWriter writer;
  writer.setIntegerSizes(9, 4);
  EXPECT_FALSE(PropertyList::parse(writer.build(writer.ascii("x"))));
}

TEST(PropertyListTest, RejectsMalformedInputWithAnError) {
  for (std::string_view input : {std::string_view(""), std::string_view("hello world"), std::string_view("<plist><dict>"),
                                 std::string_view("<plist><integer>1</string></plist>"),
                                 std::string_view("bplist00"), std::string_view("bplist17aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa")}) {
    auto result = PropertyList::parse(input);
    ASSERT_FALSE(result) << "accepted: " << input;
    EXPECT_EQ(result.errorAs<CodingError>()->code(), Code::dataCorrupted) << input;
    EXPECT_FALSE(result.errorAs<CodingError>()->detail().empty());
  }
}

TEST(PropertyListTest, ReadsTheOldStyleTextForm) {
  auto result = PropertyList::parse(R"(// A comment before the list
    { name = "Old Style"; count = 3; /* numbers stay text */
      list = (a, "b c", 'single', ); empty = (); nothing = {};
      bytes = <0fbd 00FF>; none = <>;
      "quoted key" = "tab\there, quote \" and \\ backslash";
      path = /usr/local/bin:1.0-beta_$x;
      escapes = "\101\303\251 \U00e9 \Ud83d\Ude00";
      name = "Repeated keys keep the last value";
    })");
  ASSERT_TRUE(result) << result.error()->description();
  const Value expected(Value::Dictionary{
      {"name", "Repeated keys keep the last value"},
      {"count", "3"},
      {"list", Value::Array{"a", "b c", "single"}},
      {"empty", Value::Array{}},
      {"nothing", Value::Dictionary{}},
      {"bytes", Data{0x0F, 0xBD, 0x00, 0xFF}},
      {"none", Data{}},
      {"quoted key", "tab\there, quote \" and \\ backslash"},
      {"path", "/usr/local/bin:1.0-beta_$x"},
      // \101 is 'A'; \303\251 are two Latin-1 characters, not the UTF-8 of an e acute.
      {"escapes", "A\u00C3\u00A9 \u00E9 \U0001F600"},
  });
  EXPECT_EQ(*result, expected);

  // Any value may stand at the top, after a byte order mark.
  EXPECT_EQ(*PropertyList::parse("\xEF\xBB\xBF( x )"), Value(Value::Array{"x"}));
  EXPECT_EQ(*PropertyList::parse("<48 69>"), Value(Data{'H', 'i'}));
  EXPECT_EQ(*PropertyList::parse("\"caf\xC3\xA9\""), Value("caf\xC3\xA9"));
  EXPECT_EQ(*PropertyList::parse("plain"), Value("plain"));
  // What reads as old-style writes out as XML and reads back the same.
  auto xml = PropertyList::xmlData(*result);
  ASSERT_TRUE(xml);
  EXPECT_EQ(*PropertyList::parse(*xml), expected);
}

TEST(PropertyListTest, RefusesMalformedOldStyleTextWithTheLine) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"{ a = b }", "expected ';'"},
      {"{ a = b; ", "unterminated dictionary"},
      {"{ a b; }", "expected '='"},
      {"{ (x) = y; }", "key must be a string"},
      {"{ a = ; }", "unexpected character ';'"},
      {"( a b )", "expected ',' or ')'"},
      {"( a, ", "unterminated array"},
      {"(a,,b)", "unexpected character ','"},
      {"<0fb>", "odd number of hex digits"},
      {"<0fbd", "unterminated data"},
      {"(<0fzz>)", "not a hex digit"},
      {"\"open", "unterminated string"},
      {"\"a\\", "unterminated string"},
      {"\"a\\0b\"", "NUL"},
      {std::string_view("\"a\\\0b\"", 6), "NUL"},  // a raw NUL after the backslash
      {"\"a\\U0000\"", "NUL"},
      {"\"a\\400\"", "above \\377"},
      {"\"a\\Ud800\"", "lone high surrogate"},
      {"\"a\\Udc00\"", "lone low surrogate"},
      {"\"\xC3\"", "not UTF-8"},
      {"/* never closed", "unterminated comment"},
      {"{ a = b; }\n\n)", "unexpected text after the property list at line 3"},
      {"a\n{ b = c; }", "unexpected text after"},
  };
  for (const auto& [input, reason] : cases) {
    auto result = PropertyList::parse(input);
    ASSERT_FALSE(result) << "accepted: " << input;
    EXPECT_EQ(result.errorAs<CodingError>()->code(), Code::dataCorrupted) << input;
    EXPECT_NE(result.errorAs<CodingError>()->detail().find(reason), std::string::npos) << input << ": " << result.errorAs<CodingError>()->detail();
  }
  auto nested = PropertyList::parse("{ outer = ( x, { inner = \"unterminated ; }; ) ; }");
  ASSERT_FALSE(nested);
  EXPECT_FALSE(nested.errorAs<CodingError>()->codingPath().empty());

  // Nesting is limited as in the other forms, and deep input does not exhaust the stack.
  std::string deep(200000, '(');
  auto tooDeep = PropertyList::parse(deep);
  ASSERT_FALSE(tooDeep);
  EXPECT_EQ(tooDeep.errorAs<CodingError>()->code(), Code::limitExceeded);
  std::string deepest = std::string(PropertyList::maximumDepth, '(') + std::string(PropertyList::maximumDepth, ')');
  EXPECT_TRUE(PropertyList::parse(deepest));
  EXPECT_FALSE(PropertyList::parse("(" + deepest + ")"));
}

TEST(PropertyListTest, RejectsScalarsThatLibplistWouldMisread) {
  // libplist reads these as 0, an empty date or data, or a wrapped integer.
  for (std::string_view body : {"<integer>abc</integer>", "<integer></integer>", "<integer>12abc</integer>",
                                "<integer>9223372036854775808</integer>", "<integer>18446744073709551615</integer>",
                                "<real>junk</real>", "<real>1.5.2</real>", "<date>yesterday</date>",
                                "<date>2023-02-30T00:00:00Z</date>", "<data>!!!</data>", "<integer><!-- 1 -->2</integer>"}) {
    auto result = PropertyList::parse(xmlPlist(body));
    ASSERT_FALSE(result) << body;
    EXPECT_EQ(result.errorAs<CodingError>()->code(), Code::dataCorrupted) << body;
  }
  auto accepted = PropertyList::parse(xmlPlist(R"(<array>
    <integer> 0x1F </integer><integer>-9223372036854775808</integer><integer>+7</integer>
    <real>1e400</real><real>-inf</real><real>+2.5</real><real>3</real>
    <data>
      AAH/
    </data></array>)"));
  ASSERT_TRUE(accepted) << accepted.error()->description();
  const Value::Array& values = *accepted->array();
  EXPECT_EQ(values[0].integer(), 31);
  EXPECT_EQ(values[1].integer(), INT64_MIN);
  EXPECT_EQ(values[2].integer(), 7);
  EXPECT_EQ(values[3].real(), HUGE_VAL);
  EXPECT_EQ(values[4].real(), -HUGE_VAL);
  EXPECT_EQ(values[5].real(), 2.5);
  EXPECT_EQ(values[6].real(), 3.0);
  EXPECT_EQ(*values[7].data(), (Data{0x00, 0x01, 0xFF}));

  // A sixteen-byte binary integer above the signed range is refused, one within it read.
  for (auto [low, valid] : {std::pair<std::uint64_t, bool>{5, true}, {std::uint64_t{1} << 63, false}}) {
    BinaryWriter writer;
    BinaryWriter::Bytes bytes{0x14, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 7; i >= 0; --i) bytes.push_back(static_cast<std::uint8_t>(low >> (8 * i)));
    auto result = PropertyList::parse(writer.build(writer.array({writer.add(bytes)})));
    EXPECT_EQ(result.hasValue(), valid);
    if (valid) {
      EXPECT_EQ(result->array()->at(0).integer(), 5);
    }
  }
}

TEST(PropertyListTest, ReadsRealsTheSameInEveryNumericLocale) {
  const std::string xml = xmlPlist(R"(<dict><key>a</key><real>0.5</real><key>b</key><real>-1.25e3</real>
    <key>list</key><array><real>1e-400</real><real>+7.5</real></array></dict>)");
  const Value expected(Value::Dictionary{{"a", 0.5}, {"b", -1250.0}, {"list", Value::Array{0.0, 7.5}}});
  EXPECT_EQ(*PropertyList::parse(xml), expected);

  // A repeated key: libplist keeps the last member, so fewer reals than the text shows.
  auto repeated = PropertyList::parse(xmlPlist("<dict><key>a</key><real>1.5</real><key>a</key><real>2.5</real></dict>"));
  ASSERT_TRUE(repeated);
  EXPECT_EQ(repeated->find("a")->real(), 2.5);

  // libplist reads reals with strtod, which reads "0.5" as 0 where the decimal point is a comma.
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale here";
  auto german = PropertyList::parse(xml);
  std::setlocale(LC_NUMERIC, previous.c_str());
  ASSERT_TRUE(german) << german.error()->description();
  EXPECT_EQ(*german, expected);
}

TEST(PropertyListTest, RejectsTextAndKeysThatAreNotUtf8) {
  auto badKey = PropertyList::parse(xmlPlist("<dict><key>a\xFF</key><string>x</string></dict>"));
  ASSERT_FALSE(badKey);
  EXPECT_EQ(badKey.errorAs<CodingError>()->code(), Code::dataCorrupted);

  BinaryWriter writer;
  auto text = writer.ascii("caf\xE9");
  auto badText = PropertyList::parse(writer.build(writer.array({text})));
  ASSERT_FALSE(badText);
  EXPECT_EQ(badText.errorAs<CodingError>()->code(), Code::dataCorrupted);
  EXPECT_EQ(badText.errorAs<CodingError>()->codingPath(), "[0]");

  BinaryWriter lone;
  const char16_t unpaired[] = {u'a', 0xD800, u'b'};
  auto surrogate = lone.utf16(std::u16string_view(unpaired, 3));
  EXPECT_FALSE(PropertyList::parse(lone.build(lone.array({surrogate}))));
}

TEST(PropertyListTest, RefusesTextWithNulCharacters) {
  // libplist aborts on a binary key with a NUL inside, and cuts an XML key short at one.
  BinaryWriter writer;
  auto key = writer.ascii(std::string_view("a\0b", 3));
  auto binary = PropertyList::parse(writer.build(writer.dictionary({key}, {writer.integer(1)})));
  ASSERT_FALSE(binary);
  EXPECT_EQ(binary.errorAs<CodingError>()->code(), Code::dataCorrupted);

  BinaryWriter wide;
  const char16_t units[] = {u'a', 0, u'b'};
  auto wideKey = wide.utf16(std::u16string_view(units, 3));
  EXPECT_FALSE(PropertyList::parse(wide.build(wide.dictionary({wideKey}, {wide.integer(1)}))));

  auto xml = PropertyList::parse(xmlPlist(std::string("<dict><key>a\0b</key><true/></dict>", 34)));
  ASSERT_FALSE(xml);
  EXPECT_EQ(xml.errorAs<CodingError>()->code(), Code::dataCorrupted);

  // libplist would cut a text value short at a NUL; refuse it instead of losing the rest.
  BinaryWriter text;
  auto withNul = PropertyList::parse(text.build(text.array({text.ascii(std::string_view("x\0y", 3))})));
  ASSERT_FALSE(withNul);
  EXPECT_EQ(withNul.errorAs<CodingError>()->code(), Code::dataCorrupted);
}

// Inputs that once crashed the fuzz target are kept in its corpus.
TEST(PropertyListTest, SurvivesTheFuzzCorpus) {
  const fs::path corpus = fs::path(VANTEL_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / "PropertyListFuzzer";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  int regressions = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    std::ifstream stream(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    auto value = PropertyList::parse(bytes);
    const bool isRegression = entry.path().filename().string().rfind("regression-", 0) == 0;
    if (isRegression) {
      ++regressions;
      if (!value) {
        EXPECT_FALSE(value.error()->description().empty());
      }
    } else {
      EXPECT_TRUE(value) << entry.path() << ": " << value.error()->description();
    }
    if (value) (void)PropertyList::xmlData(*value);
  }
  EXPECT_GT(regressions, 0);
}

TEST(PropertyListTest, RefusesDeepNestingWithoutCrashing) {
  std::string deepXml;
  for (int i = 0; i < 200000; ++i) deepXml += "<array>";
  for (int i = 0; i < 200000; ++i) deepXml += "</array>";
  auto xml = PropertyList::parse(xmlPlist(deepXml));
  ASSERT_FALSE(xml);
  EXPECT_EQ(xml.errorAs<CodingError>()->code(), Code::limitExceeded);

  // Nesting at the limit is fine.
  std::string allowed;
  for (int i = 0; i < PropertyList::maximumDepth; ++i) allowed += "<array>";
  for (int i = 0; i < PropertyList::maximumDepth; ++i) allowed += "</array>";
  EXPECT_TRUE(PropertyList::parse(xmlPlist(allowed)));

  BinaryWriter writer;
  std::size_t inner = writer.array({});
  for (int i = 0; i < 100000; ++i) inner = writer.array({inner});
  auto binary = PropertyList::parse(writer.build(inner));
  ASSERT_FALSE(binary);
  EXPECT_EQ(binary.errorAs<CodingError>()->code(), Code::limitExceeded);
}

TEST(PropertyListTest, RefusesCyclesAndExponentialSharing) {
  BinaryWriter cyclic;
  auto first = cyclic.add({});
  auto second = cyclic.array({first});
  cyclic.set(first, cyclic.arrayBytes({second}));
  auto cycle = PropertyList::parse(cyclic.build(first));
  ASSERT_FALSE(cycle);
  EXPECT_EQ(cycle.errorAs<CodingError>()->code(), Code::dataCorrupted);

  // Each array holds the next one twice: 60 levels describe 2^60 values.
  BinaryWriter sharing;
  std::size_t node = sharing.ascii("leaf");
  for (int i = 0; i < 60; ++i) node = sharing.array({node, node});
  auto bomb = PropertyList::parse(sharing.build(node));
  ASSERT_FALSE(bomb);
  EXPECT_EQ(bomb.errorAs<CodingError>()->code(), Code::limitExceeded);

  // Modest sharing, as written files share equal strings, is read normally.
  BinaryWriter shared;
  auto text = shared.ascii("same");
  auto result = PropertyList::parse(shared.build(shared.array({text, text, text})));
  ASSERT_TRUE(result);
  EXPECT_EQ(*result->array(), (Value::Array{"same", "same", "same"}));
}

TEST(PropertyListTest, RefusesBinaryListsThatPointOutsideThemselves) {
  BinaryWriter writer;
  auto top = writer.array({writer.ascii("a")});
  const std::string good = writer.build(top);
  ASSERT_TRUE(PropertyList::parse(good));

  auto mutated = [&](std::size_t at, std::uint8_t byte) {
    std::string bytes = good;
    bytes[at] = static_cast<char>(byte);
    return PropertyList::parse(bytes);
  };
  const std::size_t trailer = good.size() - 32;
  EXPECT_FALSE(mutated(trailer + 15, 0xFF));        // object count beyond the table
  EXPECT_FALSE(mutated(trailer + 23, 9));           // top object that does not exist
  EXPECT_FALSE(mutated(trailer + 24, 0x80));        // offset table far outside the file
  EXPECT_FALSE(mutated(trailer + 6, 3));            // offset size libplist does not handle
  EXPECT_FALSE(mutated(8 + 1 + 3, 5));              // the array refers to object 5 of 2
  EXPECT_FALSE(mutated(8 + 5, 0x5F));               // string length claims a following integer
  EXPECT_FALSE(mutated(good.size() - 33, 0x00));    // the string's offset into the header
  // Cut shorter than its magic, "bplist" is a word, and so an old-style text list.
  for (std::size_t cut = 6; cut < good.size(); cut += 3) {
    EXPECT_FALSE(PropertyList::parse(std::string_view(good).substr(0, cut))) << cut;
  }
}

TEST(PropertyListTest, WritesSortedXmlThatReadsBackTheSameValue) {
  Value::Dictionary dictionary{{"zeta", 1},
                               {"alpha", "text <&> \"quoted\""},
                               {"Middle", Value::Array{1.5, true, Date{1700000000}, Data{0, 255}}},
                               {"reference", ArchiveUid{12}},
                               {"far", Date{64092211200}},
                               {"old", Date{-2000000000}},
                               {"nested", Value::Dictionary{{"b", -3}, {"a", Value::Dictionary{}}}}};
  auto xml = PropertyList::xmlData(Value(dictionary));
  ASSERT_TRUE(xml) << xml.error()->description();
  EXPECT_EQ(xml->rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
  EXPECT_NE(xml->find("<plist version=\"1.0\">"), std::string::npos);
  const auto middle = xml->find("<key>Middle</key>");
  const auto alpha = xml->find("<key>alpha</key>");
  const auto zeta = xml->find("<key>zeta</key>");
  EXPECT_LT(middle, alpha);
  EXPECT_LT(alpha, zeta);

  auto back = PropertyList::parse(*xml);
  ASSERT_TRUE(back) << back.error()->description();
  EXPECT_EQ(*back, Value(dictionary));
}

TEST(PropertyListTest, DatesBeforeTheYear1000KeepFourYearDigits) {
  // 0505-01-02T03:04:05Z and 0012-06-01T00:00:00Z.
  Value::Dictionary dictionary{{"early", Date{-46230814555}}, {"earlier", Date{-61775395200}}};
  auto xml = PropertyList::xmlData(Value(dictionary));
  ASSERT_TRUE(xml) << xml.error()->description();
  EXPECT_NE(xml->find("<date>0505-01-02T03:04:05Z</date>"), std::string::npos) << *xml;
  EXPECT_NE(xml->find("<date>0012-06-01T00:00:00Z</date>"), std::string::npos) << *xml;
  auto back = PropertyList::parse(*xml);
  ASSERT_TRUE(back) << back.error()->description();
  EXPECT_EQ(*back, Value(dictionary));
}

TEST(PropertyListTest, RefusesToWriteTextThatCannotBeRepresented) {
  auto nul = PropertyList::xmlData(Value(Value::Dictionary{{"a", std::string("x\0y", 3)}}));
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.errorAs<CodingError>()->code(), Code::invalidValue);
  EXPECT_EQ(nul.errorAs<CodingError>()->codingPath(), "a");

  auto badKey = PropertyList::xmlData(Value(Value::Dictionary{{"\xC0\x80", 1}}));
  ASSERT_FALSE(badKey);
  EXPECT_EQ(badKey.errorAs<CodingError>()->code(), Code::invalidValue);

  // Dates round down to the second, before 2001 as after it; years past 9999 do not print.
  auto dates = PropertyList::xmlData(Value::Array{Date{-1974581.5 + 978307200.0}, Date{1.75}});
  ASSERT_TRUE(dates);
  EXPECT_EQ(*PropertyList::parse(*dates), Value(Value::Array{Date{-1974582 + 978307200.0}, Date{1}}));
  for (double seconds : {1e300, -1e13, std::nan("")}) {
    auto far = PropertyList::xmlData(Value(Date{seconds}));
    ASSERT_FALSE(far) << seconds;
    EXPECT_EQ(far.errorAs<CodingError>()->code(), Code::invalidValue);
  }

  Value deep = Value::Array{};
  for (int i = 0; i < PropertyList::maximumDepth + 1; ++i) deep = Value(Value::Array{std::move(deep)});
  auto tooDeep = PropertyList::xmlData(deep);
  ASSERT_FALSE(tooDeep);
  EXPECT_EQ(tooDeep.errorAs<CodingError>()->code(), Code::limitExceeded);
}

TEST(PropertyListTest, SavesAtomicallyAndLoadsBack) {
  TemporaryFolder folder;
  const fs::path file = folder.path() / "settings.plist";
  ASSERT_TRUE(PropertyList::save({{"version", 1}}, file));
  ASSERT_TRUE(PropertyList::save({{"version", 2}, {"name", "second"}}, file));
  EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.plist"});

  auto loaded = PropertyList::load(file);
  ASSERT_TRUE(loaded);
  ASSERT_TRUE(loaded->has_value());
  EXPECT_EQ(**loaded, (Value::Dictionary{{"version", 2}, {"name", "second"}}));
}

TEST(PropertyListTest, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
  TemporaryFolder folder;
  const fs::path file = folder.path() / "kept.plist";
  ASSERT_TRUE(PropertyList::save({{"kept", true}}, file));
  auto refused = PropertyList::save({{"bad", std::string("\0", 1)}}, file);
  ASSERT_FALSE(refused);
  EXPECT_EQ(PropertyList::load(file)->value(), (Value::Dictionary{{"kept", true}}));

  auto missingFolder = PropertyList::save({{"a", 1}}, folder.path() / "absent" / "file.plist");
  ASSERT_FALSE(missingFolder);
  EXPECT_EQ(missingFolder.errorAs<CodingError>()->code(), Code::writeFailed);

  // A folder where the file should be: the rename fails and the temporary file goes.
  fs::create_directory(folder.path() / "occupied");
  fs::create_directory(folder.path() / "occupied" / "inside");
  auto occupied = PropertyList::save({{"a", 1}}, folder.path() / "occupied");
  ASSERT_FALSE(occupied);
  EXPECT_EQ(occupied.errorAs<CodingError>()->code(), Code::writeFailed);
  auto names = folder.names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"kept.plist", "occupied"}));
}

TEST(PropertyListTest, LoadAnswersNoneForMissingFilesAndOtherTopLevels) {
  TemporaryFolder folder;
  auto missing = PropertyList::load(folder.path() / "absent.plist");
  ASSERT_TRUE(missing);
  EXPECT_FALSE(missing->has_value());
  auto aFolder = PropertyList::load(folder.path());
  ASSERT_TRUE(aFolder);
  EXPECT_FALSE(aFolder->has_value());

  writeFile(folder.path() / "array.plist", xmlPlist("<array><string>a</string></array>"));
  auto array = PropertyList::load(folder.path() / "array.plist");
  ASSERT_TRUE(array);
  EXPECT_FALSE(array->has_value());

  writeFile(folder.path() / "broken.plist", "<plist><dict><key>a</key>");
  auto broken = PropertyList::load(folder.path() / "broken.plist");
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.errorAs<CodingError>()->code(), Code::dataCorrupted);
  EXPECT_NE(broken.error()->description().find("broken.plist"), std::string::npos);

  auto unreadable = PropertyList::parseFile(folder.path() / "absent.plist");
  ASSERT_FALSE(unreadable);
  EXPECT_EQ(unreadable.errorAs<CodingError>()->code(), Code::fileUnreadable);
}

TEST(PropertyListTest, ReadsTheSampleFiles) {
  const char* overridden = std::getenv("VANTEL_SAMPLES_DIR");
  const fs::path samples = overridden ? overridden : VANTEL_SAMPLES_DIR;
  if (!fs::is_directory(samples)) GTEST_SKIP() << "no samples at " << samples;
  int parsed = 0;
  for (const char* folder : {"info-plist", "keyed-archive", "xcarchive", "hdiutil", "simulator"}) {
    if (!fs::is_directory(samples / folder)) continue;
    for (const auto& entry : fs::directory_iterator(samples / folder)) {
      auto value = PropertyList::parseFile(entry.path());
      ASSERT_TRUE(value) << entry.path() << ": " << value.error()->description();
      // Whatever was read writes out and reads back unchanged, except for the fractions of
      // seconds of dates, which the XML form does not carry.
      auto xml = PropertyList::xmlData(*value);
      ASSERT_TRUE(xml) << entry.path();
      auto again = PropertyList::parse(*xml);
      ASSERT_TRUE(again) << entry.path();
      EXPECT_EQ(*again, *value) << entry.path();
      ++parsed;
    }
  }
  EXPECT_GT(parsed, 10);

  auto info = PropertyList::load(samples / "info-plist" / "appium_TestApp_iphonesimulator_Info.bplist");
  if (info && info->has_value()) {
    EXPECT_EQ((*info)->size(), 27u);
  }
  auto alacritty = PropertyList::parseFile(samples / "info-plist" / "alacritty_Info.plist");
  if (alacritty) {
    EXPECT_EQ(*alacritty->textFor("CFBundleIdentifier"), "org.alacritty");
  }
  auto archive = PropertyList::parseFile(samples / "keyed-archive" / "alacritty_icns_info_chunk.bplist");
  if (archive) {
    const Value::Dictionary* top = archive->dictionaryFor("$top");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->at("root").uid(), ArchiveUid{1});
  }
}

}  // namespace
}  // namespace vantelkit

#include "vantelkit/foundation/StringTable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vantelkit {
namespace {

StringTable parseOrFail(std::string_view bytes) {
  ErrorPtr error;
  auto table = StringTable::parse(bytes, &error);
  EXPECT_TRUE(table.has_value()) << (error ? error->localizedDescription() : "no error");
  return table.value_or(StringTable());
}

std::string utf16le(std::string_view ascii, bool mark) {
  std::string out = mark ? "\xFF\xFE" : "";
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

std::string text(const StringTable& table, std::string_view key) {
  const std::string* found = table.find(key);
  return found ? *found : "<missing>";
}

TEST(StringTableTest, ReadsEntriesCommentsAndBareWords) {
  auto table = parseOrFail(
      "/* block\n comment */\n"
      "// line comment\n"
      "\"a\" = \"Alpha\";\n"
      "b=beta.value-1;  \"c\" /* between */ = 'Gamma' ;\n"
      "\"self\";\n"
      "\"a\" = \"Again\";\n");
  EXPECT_EQ(table.size(), 4u);
  EXPECT_EQ(text(table, "a"), "Again");  // the last value wins
  EXPECT_EQ(text(table, "b"), "beta.value-1");
  EXPECT_EQ(text(table, "c"), "Gamma");
  EXPECT_EQ(text(table, "self"), "self");
  EXPECT_EQ(table.find("missing"), nullptr);
}

TEST(StringTableTest, DecodesEscapes) {
  auto table = parseOrFail(
      R"("k" = "q\"b\\n\nr\rt\tu\U00e9s\U0041o\101x\y";)"
      "\n"
      R"("pair" = "\UD83D\UDE00"; "lone" = "\UD83Dz"; "bare" = "\U";)");
  EXPECT_EQ(text(table, "k"), "q\"b\\n\nr\rt\tu\xC3\xA9sAoAxy");
  EXPECT_EQ(text(table, "pair"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(text(table, "lone"), "\xEF\xBF\xBDz");
  EXPECT_EQ(text(table, "bare"), "U");
}

TEST(StringTableTest, ReadsBracedTableAndEmptyInput) {
  auto table = parseOrFail("{ \"a\" = \"1\"; b = 2; }\n");
  EXPECT_EQ(text(table, "b"), "2");
  EXPECT_TRUE(parseOrFail("").empty());
  EXPECT_TRUE(parseOrFail("  /* only a comment */ // and another").empty());
}

TEST(StringTableTest, ReadsUtf16AndUtf8WithMarks) {
  const std::string body = "\"key\" = \"value\";\n";
  EXPECT_EQ(text(parseOrFail(utf16le(body, true)), "key"), "value");
  EXPECT_EQ(text(parseOrFail(utf16le(body, false)), "key"), "value");
  // Two marks: the second decodes to U+FEFF, which counts as white space.
  EXPECT_EQ(text(parseOrFail("\xFF\xFE" + utf16le(body, true)), "key"), "value");
  std::string bigEndian = "\xFE\xFF";
  for (char c : body) {
    bigEndian.push_back('\0');
    bigEndian.push_back(c);
  }
  EXPECT_EQ(text(parseOrFail(bigEndian), "key"), "value");
  EXPECT_EQ(text(parseOrFail("\xEF\xBB\xBF" + body), "key"), "value");
  // A surrogate pair in UTF-16 becomes one four-byte UTF-8 sequence.
  std::string emoji = utf16le("\"e\" = \"", true) + std::string("\x3D\xD8\x00\xDE", 4) + utf16le("\";", false);
  EXPECT_EQ(text(parseOrFail(emoji), "e"), "\xF0\x9F\x98\x80");
}

TEST(StringTableTest, ReportsFaultsWithTheirLine) {
  struct Case {
    std::string bytes;
    StringTableError::Code code;
    std::size_t line;
  };
  const Case cases[] = {
      {"\"a\" = \"1\";\n\"b\" = \"2\"\n", StringTableError::Code::syntax, 3},  // missing ";" at the end
      {"\"a\" = \"1\";\n\"b\" \"2\";", StringTableError::Code::syntax, 2},
      {"\n\n\"open = \"1\";", StringTableError::Code::syntax, 3},
      {"/* never closed", StringTableError::Code::syntax, 1},
      {"\"a\" = \"1\\", StringTableError::Code::syntax, 1},
      {"\"a\" = ;", StringTableError::Code::syntax, 1},
      {"{ \"a\" = \"1\"; ", StringTableError::Code::syntax, 1},
      {"{ \"a\" = \"1\"; } extra", StringTableError::Code::syntax, 1},
      {"\"a\" = (1, 2);", StringTableError::Code::syntax, 1},
      {"\"a\" = \"\xC3\x28\";", StringTableError::Code::invalidEncoding, 0},
      {"\xFF\xFE\x41", StringTableError::Code::invalidEncoding, 0},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    EXPECT_FALSE(StringTable::parse(c.bytes, &error).has_value()) << c.bytes;
    const auto* tableError = errorAs<StringTableError>(error);
    ASSERT_NE(tableError, nullptr) << c.bytes;
    EXPECT_EQ(tableError->code(), c.code) << c.bytes;
    EXPECT_EQ(tableError->line(), c.line) << c.bytes;
  }
  ErrorPtr error;
  StringTable::parse("x = ", &error);
  EXPECT_EQ(error->qualifiedDescription(), "StringTableError.syntax");
  EXPECT_FALSE(StringTable::parse("x = ").has_value());  // no error slot: still no crash
}

TEST(StringTableTest, ReadsCompiledTables) {
  auto xml = parseOrFail(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>k</key><string>v</string><key>n</key><integer>3</integer></dict></plist>\n");
  EXPECT_EQ(text(xml, "k"), "v");
  EXPECT_EQ(xml.find("n"), nullptr);  // not a text: skipped

  ErrorPtr error;
  EXPECT_FALSE(StringTable::parse("<?xml version=\"1.0\"?><plist><array/></plist>", &error));
  ASSERT_NE(errorAs<StringTableError>(error), nullptr);
  EXPECT_EQ(errorAs<StringTableError>(error)->code(), StringTableError::Code::invalidPropertyList);
  EXPECT_FALSE(StringTable::parse(std::string("bplist00\x01\x02", 10), &error));
  EXPECT_EQ(errorAs<StringTableError>(error)->code(), StringTableError::Code::invalidPropertyList);
}

std::optional<std::string> readSample(const char* name) {
  const std::filesystem::path path = std::filesystem::path(VANTEL_SAMPLES_DIR) / "strings" / name;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(StringTableTest, ReadsRealTables) {
  if (!std::filesystem::exists(VANTEL_SAMPLES_DIR)) GTEST_SKIP() << "no samples";
  auto english = readSample("quicksilver_en.lproj_Localizable.strings");
  auto czech = readSample("quicksilver_cs.lproj_Localizable.strings");
  auto catalan = readSample("quicksilver_ca-ES.lproj_Localizable.strings");
  ASSERT_TRUE(english && czech && catalan);

  auto en = parseOrFail(*english);
  EXPECT_GE(en.size(), 140u);
  EXPECT_EQ(text(en, "Cancel"), "Cancel");
  EXPECT_EQ(text(en, "Install in \"Applications\""), "Install in \"Applications\"");
  EXPECT_NE(text(en, "64-bit details").find("Preferences.\n\nIf you"), std::string::npos);

  auto cs = parseOrFail(*czech);  // two byte-order marks
  EXPECT_EQ(text(cs, "Install in \"Applications\""), "Instalovat do složky „Aplikace“");
  EXPECT_GE(cs.size(), 140u);

  auto compiled = readSample("appium_TestApp_en.lproj_Localizable.compiled.strings");
  ASSERT_TRUE(compiled);
  auto app = parseOrFail(*compiled);
  EXPECT_EQ(app.size(), 1u);
  EXPECT_EQ(text(app, "main.button.computeSum"), "Compute Sum");

  auto ca = parseOrFail(*catalan);
  EXPECT_EQ(text(ca, "Cancel"), "Cancel·lar");
  EXPECT_EQ(text(ca, "OK"), "Correcte");
}

}  // namespace
}  // namespace vantelkit

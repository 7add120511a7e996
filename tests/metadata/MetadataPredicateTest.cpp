#include "vantelkit/metadata/MetadataPredicate.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vantelkit {
namespace {

class Subject final : public MetadataSubject {
 public:
  Subject(std::string name, std::optional<std::int64_t> size, std::string directory = "/home/user/Downloads",
          std::optional<Date> modified = std::nullopt)
      : _name(std::move(name)), _size(size), _directory(std::move(directory)), _modified(modified) {}
  std::string_view name() const override { return _name; }
  std::string path() const override { return _directory + "/" + _name; }
  std::optional<std::int64_t> size() const override { return _size; }
  std::optional<Date> contentModificationDate() const override { return _modified; }

 private:
  std::string _name;
  std::optional<std::int64_t> _size;
  std::string _directory;
  std::optional<Date> _modified;
};

MetadataPredicate parsed(std::string_view text) {
  auto result = MetadataPredicate::parse(text);
  if (!result) {
    ADD_FAILURE() << text << ": " << result.error()->localizedDescription();
    return MetadataPredicate();
  }
  return *result;
}

struct EvaluationCase {
  const char* predicate;
  const char* name;
  std::optional<std::int64_t> size;
  bool expected;
};

TEST(MetadataPredicateTest, EvaluatesTheFormatAsQueriesUseIt) {
  const EvaluationCase cases[] = {
      // The clean scan's own predicates.
      {"(_kMDItemFileName LIKE[cd] '*.pkg')", "Installer.pkg", 10, true},
      {"(_kMDItemFileName LIKE[cd] '*.pkg')", "INSTALLER.PKG", 10, true},
      {"(_kMDItemFileName LIKE[cd] '*.pkg')", "Installer.pkg.zip", 10, false},
      {"(_kMDItemFileName LIKE[cd] '*.dmg')", "Ünïcödé.DMG", 10, true},
      {"(kMDItemFSSize > 100000000)", "big", 100000001, true},
      {"(kMDItemFSSize > 100000000)", "edge", 100000000, false},
      {"kMDItemFSSize > 1e8", "big", 100000001, true},
      {"kMDItemFSSize >= 10.5", "ten", 10, false},
      {"kMDItemFSSize =< 10 && kMDItemFSSize => 10", "ten", 10, true},
      {"kMDItemFSSize <> 10", "ten", 10, false},
      // A file without a size fails every size test, != too.
      {"kMDItemFSSize != 10", "unknown", std::nullopt, false},
      {"NOT kMDItemFSSize != 10", "unknown", std::nullopt, true},
      // Wildcards: ? is one character (not one byte), * any run, \ makes them literal.
      {"kMDItemFSName LIKE 'a?c'", "abc", 0, true},
      {"kMDItemFSName LIKE 'a?c'", "aéc", 0, true},
      {"kMDItemFSName LIKE 'a?c'", "ac", 0, false},
      {"kMDItemFSName LIKE '*a*b*c*'", "xxaxxbxxcxx", 0, true},
      {"kMDItemFSName LIKE '*a*b*c*'", "cba", 0, false},
      {R"(kMDItemFSName LIKE 'what\\?')", "what?", 0, true},
      {R"(kMDItemFSName LIKE 'what\\?')", "whats", 0, false},
      {"kMDItemFSName LIKE ''", "", 0, true},
      {"kMDItemFSName LIKE '*'", "", 0, true},
      // Options: case and diacritics are told apart unless asked.
      {"kMDItemDisplayName == 'Résumé'", "Résumé", 0, true},
      {"kMDItemDisplayName == 'resume'", "Résumé", 0, false},
      {"kMDItemDisplayName ==[c] 'résumé'", "Résumé", 0, true},
      {"kMDItemDisplayName ==[d] 'Resume'", "Résumé", 0, true},
      {"kMDItemDisplayName ==[cd] 'RESUME'", "Résumé", 0, true},
      {"kMDItemDisplayName ==[dc] 'RESUME'", "Résumé", 0, true},
      {"kMDItemFSName BEGINSWITH 'Inv'", "Invoice 2024.pdf", 0, true},
      {"kMDItemFSName beginswith[c] 'inv'", "Invoice 2024.pdf", 0, true},
      {"kMDItemFSName ENDSWITH '.pdf'", "Invoice 2024.pdf", 0, true},
      {"kMDItemFSName ENDSWITH 'Invoice 2024.pdf!'", "Invoice 2024.pdf", 0, false},
      {"kMDItemFSName CONTAINS ' 20'", "Invoice 2024.pdf", 0, true},
      {"kMDItemFSName CONTAINS[c] 'VOICE'", "Invoice 2024.pdf", 0, true},
      {"kMDItemFSName < 'b' AND kMDItemFSName >= 'a'", "apple", 0, true},
      {"kMDItemPath BEGINSWITH '/home/user/'", "file", 0, true},
      {"kMDItemPath CONTAINS \"Downloads/f\"", "file", 0, true},
      // Logic and precedence: AND binds tighter than OR; NOT tighter than both.
      {"kMDItemFSSize == 1 OR kMDItemFSSize == 2 AND kMDItemFSName == 'x'", "y", 1, true},
      {"(kMDItemFSSize == 1 OR kMDItemFSSize == 2) AND kMDItemFSName == 'x'", "y", 1, false},
      {"!(kMDItemFSSize == 1) || kMDItemFSName == 'y'", "y", 1, true},
      {"not kMDItemFSSize == 1 and kMDItemFSName == 'y'", "y", 1, false},
      {"TRUEPREDICATE", "y", 1, true},
      {"NOT FALSEPREDICATE AND kMDItemFSSize == -0", "y", 0, true},
      // Quoted texts: escapes and the other quote inside.
      {R"(kMDItemFSName == 'it\'s')", "it's", 0, true},
      {R"(kMDItemFSName == "say \"hi\"")", "say \"hi\"", 0, true},
      {R"(kMDItemFSName == 'tab\there')", "tab\there", 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.predicate);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parsed(c.predicate).evaluate(Subject(c.name, c.size)), c.expected);
  }
}

TEST(MetadataPredicateTest, ANameThatIsNotUtf8MatchesOnlyItsOwnBytes) {
  std::string name = "bad\xff.pkg";
  EXPECT_TRUE(parsed("_kMDItemFileName LIKE[cd] '*.PKG'").evaluate(Subject(name, 1)));
  EXPECT_TRUE(parsed("_kMDItemFileName LIKE 'bad?.pkg'").evaluate(Subject(name, 1)));
  EXPECT_FALSE(parsed("_kMDItemFileName ==[cd] 'bad.pkg'").evaluate(Subject(name, 1)));
}

TEST(MetadataPredicateTest, ComparesModificationDatesAsSecondsSince2001) {
  // 2001-01-01T00:00:10Z.
  Subject subject("f", 1, "/d", Date{978307210.0});
  EXPECT_TRUE(parsed("kMDItemContentModificationDate == 10").evaluate(subject));
  EXPECT_TRUE(parsed("kMDItemContentModificationDate < $time.iso('2001-01-01T00:00:11Z')").evaluate(subject));
  EXPECT_FALSE(parsed("kMDItemContentModificationDate > $time.now(-60)").evaluate(subject));
  const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_TRUE(parsed("kMDItemContentModificationDate > $time.now(-3600)").evaluate(Subject("f", 1, "/d", Date{now})));
  EXPECT_FALSE(parsed("kMDItemContentModificationDate > 0").evaluate(Subject("f", 1)));
  EXPECT_TRUE(parsed("kMDItemContentModificationDate > 0").usesAttribute(MetadataAttribute::contentModificationDate));
  EXPECT_FALSE(parsed("kMDItemFSSize > 0").usesAttribute(MetadataAttribute::contentModificationDate));
}

struct ErrorCase {
  const char* predicate;
  PredicateParseError::Case errorCase;
  std::size_t position;
};

TEST(MetadataPredicateTest, ReportsWhatAndWhereForTextsThatDoNotParse) {
  using Case = PredicateParseError::Case;
  const ErrorCase cases[] = {
      {"", Case::unexpectedEnd, 0},
      {"   ", Case::unexpectedEnd, 3},
      {"(kMDItemFSSize > 1", Case::unbalancedParenthesis, 0},
      {"kMDItemFSSize > 1)", Case::unbalancedParenthesis, 17},
      {"((kMDItemFSSize > 1)", Case::unbalancedParenthesis, 0},
      {")", Case::unbalancedParenthesis, 0},
      {"()", Case::unbalancedParenthesis, 1},
      {"kMDItemColor == 'red'", Case::unknownAttribute, 0},
      // A character that starts no token is one case wherever it stands.
      {"kMDItemFSSize ~ 5", Case::unexpectedCharacter, 14},
      {"kMDItemFSSize > ~", Case::unexpectedCharacter, 16},
      {"kMDItemFSSize > 1 ~", Case::unexpectedCharacter, 18},
      {"(kMDItemFSSize > 1 ] 2)", Case::unexpectedCharacter, 19},
      {"kMDItemFSSize \xc2\xbb 1", Case::unexpectedCharacter, 14},
      {"kMDItemFSSize > (1)", Case::unexpectedToken, 16},
      {"kMDItemFSName MATCHES 'a'", Case::unknownOperator, 14},
      {"kMDItemFSName LIKE[x] 'a'", Case::unknownOption, 18},
      {"kMDItemFSName LIKE[cc] 'a'", Case::unknownOption, 18},
      {"kMDItemFSName LIKE[c 'a'", Case::unknownOption, 18},
      {"kMDItemFSName == 'open", Case::unterminatedText, 17},
      {"kMDItemFSName == 'ends in backslash\\", Case::unterminatedText, 17},
      {"kMDItemFSSize > 12abc", Case::invalidNumber, 16},
      {"kMDItemFSSize > 1e", Case::invalidNumber, 16},
      {"kMDItemFSSize > -", Case::invalidNumber, 16},
      {"kMDItemFSSize > 1e999", Case::invalidNumber, 16},
      {"kMDItemFSSize > '100'", Case::typeMismatch, 16},
      {"kMDItemFSName == 3", Case::typeMismatch, 17},
      {"kMDItemFSSize LIKE '*'", Case::typeMismatch, 14},
      {"kMDItemFSSize CONTAINS 1", Case::typeMismatch, 14},
      {"kMDItemFSSize > $time.now", Case::typeMismatch, 16},
      {"kMDItemFSName == kMDItemDisplayName", Case::typeMismatch, 17},
      {"kMDItemContentModificationDate > $time.iso('yesterday')", Case::invalidDate, 43},
      {"kMDItemContentModificationDate > $time.now(x)", Case::invalidNumber, 43},
      {"kMDItemFSSize > 1 AND", Case::unexpectedEnd, 21},
      {"kMDItemFSSize > 1 kMDItemFSSize > 2", Case::unexpectedToken, 18},
      {"kMDItemFSSize >", Case::unexpectedEnd, 15},
      {"kMDItemFSSize", Case::unexpectedEnd, 13},
      {"# kMDItemFSSize > 1", Case::unexpectedCharacter, 0},
      {"'a' == kMDItemFSName", Case::unexpectedToken, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.predicate);
    auto result = MetadataPredicate::parse(c.predicate);
    ASSERT_FALSE(result);
    const auto* error = result.errorAs<PredicateParseError>();
    EXPECT_EQ(PredicateParseError::caseName(error->errorCase()), PredicateParseError::caseName(c.errorCase));
    EXPECT_EQ(error->position(), c.position);
    EXPECT_NE(error->localizedDescription().find("position " + std::to_string(c.position)), std::string::npos);
  }
  EXPECT_EQ(MetadataPredicate::parse("kMDItemFSSize \xc2\xbb 1").errorAs<PredicateParseError>()->detail(),
            "\xc2\xbb");
  EXPECT_EQ(MetadataPredicate::parse("kMDItemColor == 1").error()->qualifiedDescription(),
            "PredicateParseError.unknownAttribute");
}

TEST(MetadataPredicateTest, DeepNestingIsAnErrorNotACrash) {
  std::string deep(100000, '(');
  auto result = MetadataPredicate::parse(deep);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.errorAs<PredicateParseError>()->errorCase(), PredicateParseError::Case::nestedTooDeeply);

  std::string nots;
  for (int i = 0; i < 100000; ++i) nots += "!";
  EXPECT_EQ(MetadataPredicate::parse(nots + "TRUEPREDICATE").errorAs<PredicateParseError>()->errorCase(),
            PredicateParseError::Case::nestedTooDeeply);

  // A long chain of ANDs is no nesting.
  std::string chain = "kMDItemFSSize > 0";
  for (int i = 0; i < 5000; ++i) chain += " AND kMDItemFSSize > 0";
  EXPECT_TRUE(parsed(chain).evaluate(Subject("f", 1)));
}

TEST(MetadataPredicateTest, FormatsACanonicalTextThatParsesBackToTheSamePredicate) {
  const char* texts[] = {
      "(_kMDItemFileName LIKE[cd] '*.pkg')",
      "kMDItemFSSize > 1e8 or not (kMDItemFSName ==[d] 'x\\'y' && kMDItemFSSize <= -2.5)",
      "NOT (kMDItemFSSize == 1 OR (kMDItemFSSize == 2 AND kMDItemPath CONTAINS '\\\\'))",
      "kMDItemContentModificationDate > $time.iso('2024-01-31T12:00:00Z')",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    auto predicate = parsed(text);
    auto again = parsed(predicate.format());
    EXPECT_EQ(again.format(), predicate.format());
  }
  EXPECT_EQ(parsed("(_kMDItemFileName like[cd] \"*.pkg\")").format(), "_kMDItemFileName LIKE[cd] '*.pkg'");
}

}  // namespace
}  // namespace vantelkit

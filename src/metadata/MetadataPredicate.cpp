#include "vantelkit/metadata/MetadataPredicate.h"

#include <fmt/core.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <vector>

#include "foundation/internal/CodingText.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/TextFolding.h"

namespace vantelkit {

namespace {

constexpr std::array<std::pair<std::string_view, MetadataAttribute>, 6> kAttributeNames{{
    {"_kMDItemFileName", MetadataAttribute::fileName},
    {"kMDItemFSName", MetadataAttribute::fsName},
    {"kMDItemDisplayName", MetadataAttribute::displayName},
    {"kMDItemPath", MetadataAttribute::path},
    {"kMDItemFSSize", MetadataAttribute::fsSize},
    {"kMDItemContentModificationDate", MetadataAttribute::contentModificationDate},
}};

bool isTextAttribute(MetadataAttribute attribute) {
  return attribute != MetadataAttribute::fsSize && attribute != MetadataAttribute::contentModificationDate;
}

enum class Operator { equal, notEqual, less, lessOrEqual, greater, greaterOrEqual, like, beginsWith, endsWith, contains };

std::string_view operatorText(Operator op) {
  switch (op) {
    case Operator::equal: return "==";
    case Operator::notEqual: return "!=";
    case Operator::less: return "<";
    case Operator::lessOrEqual: return "<=";
    case Operator::greater: return ">";
    case Operator::greaterOrEqual: return ">=";
    case Operator::like: return "LIKE";
    case Operator::beginsWith: return "BEGINSWITH";
    case Operator::endsWith: return "ENDSWITH";
    case Operator::contains: return "CONTAINS";
  }
  return "==";
}

bool isTextOperator(Operator op) { return op >= Operator::like; }

// One element of a LIKE pattern: a literal character, "?" or "*".
struct PatternUnit {
  enum class Kind { literal, one, any } kind;
  char32_t character = 0;
};

// Seconds between 1970-01-01 and 2001-01-01.
constexpr double kReferenceDateOffset = internal::kReferenceDateOffset;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$'; }
bool isWordPart(char c) { return isWordStart(c) || isDigit(c) || c == '.'; }
// Whether c begins a word, a number, a quoted text, an operator, a parenthesis or options;
// every other character (non-ASCII ones too) starts no token.
bool startsToken(char c) {
  return isWordStart(c) || std::string_view("0123456789+-.'\"<>=!&|()[").find(c) != std::string_view::npos;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

// Whole-text wildcard match; "*" backtracks to its last use only, so the cost stays at most
// the product of the two lengths.
bool matchesPattern(std::u32string_view text, const std::vector<PatternUnit>& pattern) {
  std::size_t t = 0, p = 0;
  std::size_t starPattern = std::string::npos, starText = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p].kind == PatternUnit::Kind::one ||
                               (pattern[p].kind == PatternUnit::Kind::literal && pattern[p].character == text[t]))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p].kind == PatternUnit::Kind::any) {
      starPattern = p++;
      starText = t;
    } else if (starPattern != std::string::npos) {
      p = starPattern + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p].kind == PatternUnit::Kind::any) ++p;
  return p == pattern.size();
}

template <class T>
bool compareOrdered(Operator op, const T& a, const T& b) {
  switch (op) {
    case Operator::equal: return a == b;
    case Operator::notEqual: return a != b;
    case Operator::less: return a < b;
    case Operator::lessOrEqual: return a <= b;
    case Operator::greater: return a > b;
    case Operator::greaterOrEqual: return a >= b;
    default: return false;
  }
}

}  // namespace

struct MetadataPredicate::Node {
  enum class Kind { always, never, comparison, conjunction, disjunction, negation };
  Kind kind = Kind::always;

  // A comparison:
  MetadataAttribute attribute = MetadataAttribute::fileName;
  Operator op = Operator::equal;
  bool caseInsensitive = false;
  bool diacriticInsensitive = false;
  bool isText = false;
  std::string text;                  // the text value as written (escapes resolved)
  std::u32string foldedText;         // the text folded as the options say
  std::vector<PatternUnit> pattern;  // LIKE
  double number = 0;                 // a number value; for dates, seconds since 2001
  std::optional<std::int64_t> integer;  // the number when it is a whole number in range

  // A compound:
  std::vector<std::shared_ptr<const Node>> children;

  bool evaluate(const MetadataSubject& subject) const;
  bool evaluateComparison(const MetadataSubject& subject) const;
  void write(std::string& out, Kind parent) const;
};

bool MetadataPredicate::Node::evaluate(const MetadataSubject& subject) const {
  switch (kind) {
    case Kind::always: return true;
    case Kind::never: return false;
    case Kind::comparison: return evaluateComparison(subject);
    case Kind::conjunction:
      for (const auto& child : children)
        if (!child->evaluate(subject)) return false;
      return true;
    case Kind::disjunction:
      for (const auto& child : children)
        if (child->evaluate(subject)) return true;
      return false;
    case Kind::negation: return !children.front()->evaluate(subject);
  }
  return false;
}

bool MetadataPredicate::Node::evaluateComparison(const MetadataSubject& subject) const {
  if (attribute == MetadataAttribute::fsSize) {
    auto size = subject.size();
    if (!size) return false;
    if (integer) return compareOrdered(op, *size, *integer);
    return compareOrdered(op, static_cast<double>(*size), number);
  }
  if (attribute == MetadataAttribute::contentModificationDate) {
    auto date = subject.contentModificationDate();
    if (!date) return false;
    return compareOrdered(op, date->secondsSince1970 - kReferenceDateOffset, number);
  }
  thread_local std::u32string folded;
  if (attribute == MetadataAttribute::path) {
    platform::foldText(subject.path(), {caseInsensitive, diacriticInsensitive}, folded);
  } else {
    platform::foldText(subject.name(), {caseInsensitive, diacriticInsensitive}, folded);
  }
  std::u32string_view value(folded);
  std::u32string_view constant(foldedText);
  switch (op) {
    case Operator::like: return matchesPattern(value, pattern);
    case Operator::beginsWith: return value.substr(0, constant.size()) == constant;
    case Operator::endsWith:
      return value.size() >= constant.size() && value.substr(value.size() - constant.size()) == constant;
    case Operator::contains: return value.find(constant) != std::u32string_view::npos;
    default: return compareOrdered(op, value, constant);
  }
}

// Parentheses only where the reading needs them, so that the text nests no deeper than the
// one it was parsed from.
void MetadataPredicate::Node::write(std::string& out, Kind parent) const {
  switch (kind) {
    case Kind::always: out += "TRUEPREDICATE"; return;
    case Kind::never: out += "FALSEPREDICATE"; return;
    case Kind::negation:
      out += "NOT ";
      children.front()->write(out, kind);
      return;
    case Kind::conjunction:
    case Kind::disjunction: {
      const bool parenthesized =
          parent == Kind::negation || (kind == Kind::disjunction && parent == Kind::conjunction);
      if (parenthesized) out += '(';
      for (std::size_t i = 0; i < children.size(); ++i) {
        if (i > 0) out += kind == Kind::conjunction ? " AND " : " OR ";
        children[i]->write(out, kind);
      }
      if (parenthesized) out += ')';
      return;
    }
    case Kind::comparison: break;
  }
  out += metadataAttributeName(attribute);
  out += ' ';
  out += operatorText(op);
  if (caseInsensitive || diacriticInsensitive) {
    out += '[';
    if (caseInsensitive) out += 'c';
    if (diacriticInsensitive) out += 'd';
    out += ']';
  }
  out += ' ';
  if (isText) {
    out += '\'';
    for (char c : text) {
      if (c == '\'' || c == '\\') out += '\\';
      out += c;
    }
    out += '\'';
  } else if (integer) {
    out += fmt::format("{}", *integer);
  } else {
    out += fmt::format("{}", number);
  }
}

namespace {

using Node = MetadataPredicate::Node;
using NodePtr = std::shared_ptr<const Node>;
using Case = PredicateParseError::Case;

struct ParseFailure {
  Case errorCase;
  std::size_t position;
  std::string detail;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : _text(text) {}

  NodePtr parseAll() {
    auto root = parseOr();
    skipSpace();
    if (_pos < _text.size()) {
      if (_text[_pos] == ')') fail(Case::unbalancedParenthesis, _pos);
      failUnexpected();
    }
    return root;
  }

 private:
  [[noreturn]] void fail(Case errorCase, std::size_t position, std::string detail = {}) {
    throw ParseFailure{errorCase, position, std::move(detail)};
  }

  // The fault at the current position where nothing there fits: the end, a character that
  // starts no token, or a token that is not the one needed.
  [[noreturn]] void failUnexpected() {
    if (atEnd()) fail(Case::unexpectedEnd, _pos);
    if (!startsToken(_text[_pos])) fail(Case::unexpectedCharacter, _pos, characterAt(_pos));
    fail(Case::unexpectedToken, _pos, tokenAt(_pos));
  }

  void skipSpace() {
    while (_pos < _text.size() && isSpace(_text[_pos])) ++_pos;
  }
  bool atEnd() {
    skipSpace();
    return _pos >= _text.size();
  }
  // The word at the current position, without consuming it (empty when none).
  std::string_view peekWord() {
    skipSpace();
    std::size_t end = _pos;
    if (end < _text.size() && isWordStart(_text[end])) {
      while (end < _text.size() && isWordPart(_text[end])) ++end;
    }
    return _text.substr(_pos, end - _pos);
  }
  bool peekSymbol(std::string_view symbol) {
    skipSpace();
    return _text.substr(_pos, symbol.size()) == symbol;
  }
  // A short excerpt of the text at position, for messages.
  std::string tokenAt(std::size_t position) const {
    std::size_t end = position;
    if (end < _text.size() && isWordPart(_text[end])) {
      while (end < _text.size() && isWordPart(_text[end]) && end - position < 40) ++end;
    } else if (end < _text.size()) {
      ++end;
    }
    return std::string(_text.substr(position, end - position));
  }
  // The character at position, with the continuation bytes of its UTF-8 sequence.
  std::string characterAt(std::size_t position) const {
    std::size_t end = position + 1;
    if (static_cast<unsigned char>(_text[position]) >= 0xC0) {
      while (end < _text.size() && end - position < 4 && (static_cast<unsigned char>(_text[end]) & 0xC0) == 0x80)
        ++end;
    }
    return std::string(_text.substr(position, end - position));
  }

  void enter(std::size_t position) {
    if (++_depth > PredicateParseError::maximumNesting) fail(Case::nestedTooDeeply, position);
  }
  void leave() { --_depth; }

  NodePtr parseOr() {
    std::vector<NodePtr> terms{parseAnd()};
    for (;;) {
      if (equalsIgnoringCase(peekWord(), "OR")) {
        _pos += 2;
      } else if (peekSymbol("||")) {
        _pos += 2;
      } else {
        break;
      }
      terms.push_back(parseAnd());
    }
    return combine(Node::Kind::disjunction, std::move(terms));
  }

  NodePtr parseAnd() {
    std::vector<NodePtr> terms{parseNot()};
    for (;;) {
      if (equalsIgnoringCase(peekWord(), "AND")) {
        _pos += 3;
      } else if (peekSymbol("&&")) {
        _pos += 2;
      } else {
        break;
      }
      terms.push_back(parseNot());
    }
    return combine(Node::Kind::conjunction, std::move(terms));
  }

  static NodePtr combine(Node::Kind kind, std::vector<NodePtr> terms) {
    if (terms.size() == 1) return std::move(terms.front());
    auto node = std::make_shared<Node>();
    node->kind = kind;
    // Flattened, so that a long chain of ANDs costs no depth.
    for (auto& term : terms) {
      if (term->kind == kind) {
        node->children.insert(node->children.end(), term->children.begin(), term->children.end());
      } else {
        node->children.push_back(std::move(term));
      }
    }
    return node;
  }

  NodePtr parseNot() {
    std::size_t start = _pos;
    bool negated = false;
    if (equalsIgnoringCase(peekWord(), "NOT")) {
      start = _pos;
      _pos += 3;
      negated = true;
    } else if (peekSymbol("!") && !peekSymbol("!=")) {
      start = _pos;
      _pos += 1;
      negated = true;
    }
    if (!negated) return parsePrimary();
    enter(start);
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::negation;
    node->children.push_back(parseNot());
    leave();
    return node;
  }

  NodePtr parsePrimary() {
    if (atEnd()) fail(Case::unexpectedEnd, _pos);
    const std::size_t start = _pos;
    if (_text[_pos] == '(') {
      enter(start);
      ++_pos;
      auto inner = parseOr();
      if (atEnd()) fail(Case::unbalancedParenthesis, start);
      if (_text[_pos] != ')') failUnexpected();
      ++_pos;
      leave();
      return inner;
    }
    if (_text[_pos] == ')') fail(Case::unbalancedParenthesis, _pos);
    std::string_view word = peekWord();
    if (word.empty()) failUnexpected();
    if (equalsIgnoringCase(word, "TRUEPREDICATE") || equalsIgnoringCase(word, "FALSEPREDICATE")) {
      _pos += word.size();
      auto node = std::make_shared<Node>();
      node->kind = equalsIgnoringCase(word, "TRUEPREDICATE") ? Node::Kind::always : Node::Kind::never;
      return node;
    }
    auto attribute = metadataAttributeFromName(word);
    if (!attribute) fail(Case::unknownAttribute, start, std::string(word));
    _pos += word.size();
    return parseComparison(*attribute);
  }

  NodePtr parseComparison(MetadataAttribute attribute) {
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::comparison;
    node->attribute = attribute;
    if (atEnd()) fail(Case::unexpectedEnd, _pos);
    const std::size_t operatorPosition = _pos;
    node->op = parseOperator();
    parseOptions(*node);
    if (!isTextAttribute(attribute) && isTextOperator(node->op))
      fail(Case::typeMismatch, operatorPosition, std::string(operatorText(node->op)));
    if (atEnd()) fail(Case::unexpectedEnd, _pos);
    const std::size_t valuePosition = _pos;
    parseValue(*node);
    if (node->isText != isTextAttribute(attribute))
      fail(Case::typeMismatch, valuePosition, tokenAt(valuePosition));
    if (node->isText) {
      if (node->op == Operator::like) {
        node->pattern = compilePattern(node->text, node->caseInsensitive, node->diacriticInsensitive);
      } else {
        platform::foldText(node->text, {node->caseInsensitive, node->diacriticInsensitive}, node->foldedText);
      }
    }
    return node;
  }

  Operator parseOperator() {
    static constexpr std::array<std::pair<std::string_view, Operator>, 10> symbols{{
        {"==", Operator::equal},
        {"!=", Operator::notEqual},
        {"<>", Operator::notEqual},
        {"<=", Operator::lessOrEqual},
        {"=<", Operator::lessOrEqual},
        {">=", Operator::greaterOrEqual},
        {"=>", Operator::greaterOrEqual},
        {"=", Operator::equal},
        {"<", Operator::less},
        {">", Operator::greater},
    }};
    for (const auto& [symbol, op] : symbols) {
      if (_text.substr(_pos, symbol.size()) == symbol) {
        _pos += symbol.size();
        return op;
      }
    }
    static constexpr std::array<std::pair<std::string_view, Operator>, 4> words{{
        {"LIKE", Operator::like},
        {"BEGINSWITH", Operator::beginsWith},
        {"ENDSWITH", Operator::endsWith},
        {"CONTAINS", Operator::contains},
    }};
    std::string_view word = peekWord();
    for (const auto& [name, op] : words) {
      if (equalsIgnoringCase(word, name)) {
        _pos += word.size();
        return op;
      }
    }
    if (word.empty()) failUnexpected();
    fail(Case::unknownOperator, _pos, std::string(word));
  }

  void parseOptions(Node& node) {
    if (!peekSymbol("[")) return;
    const std::size_t start = _pos;
    const std::size_t close = _text.find(']', start);
    if (close == std::string_view::npos) fail(Case::unknownOption, start, std::string(_text.substr(start)));
    std::string_view options = _text.substr(start + 1, close - start - 1);
    if (options.empty()) fail(Case::unknownOption, start, std::string(options));
    for (char c : options) {
      if (c == 'c' && !node.caseInsensitive) {
        node.caseInsensitive = true;
      } else if (c == 'd' && !node.diacriticInsensitive) {
        node.diacriticInsensitive = true;
      } else {
        fail(Case::unknownOption, start, std::string(options));
      }
    }
    _pos = close + 1;
  }

  void parseValue(Node& node) {
    const char c = _text[_pos];
    if (c == '\'' || c == '"') {
      node.isText = true;
      node.text = parseQuoted();
      return;
    }
    if (isDigit(c) || c == '-' || c == '+' || c == '.') {
      parseNumber(node);
      return;
    }
    std::string_view word = peekWord();
    if (word == "$time.now") {
      if (node.attribute != MetadataAttribute::contentModificationDate) fail(Case::typeMismatch, _pos, "$time.now");
      _pos += word.size();
      double offset = 0;
      if (peekSymbol("(")) {
        ++_pos;
        skipSpace();
        Node argument;
        const std::size_t at = _pos;
        if (at >= _text.size()) fail(Case::unexpectedEnd, at);
        parseNumber(argument);
        offset = argument.number;
        if (!peekSymbol(")")) fail(Case::invalidDate, at, "$time.now");
        ++_pos;
      }
      const double now =
          std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
      setNumber(node, now - kReferenceDateOffset + offset);
      return;
    }
    if (word == "$time.iso") {
      if (node.attribute != MetadataAttribute::contentModificationDate) fail(Case::typeMismatch, _pos, "$time.iso");
      _pos += word.size();
      if (!peekSymbol("(")) fail(Case::invalidDate, _pos, "$time.iso");
      ++_pos;
      skipSpace();
      const std::size_t at = _pos;
      if (at >= _text.size()) fail(Case::unexpectedEnd, at);
      if (_text[at] != '\'' && _text[at] != '"') fail(Case::invalidDate, at, tokenAt(at));
      std::string iso = parseQuoted();
      auto date = internal::iso8601Parse(iso);
      if (!date) fail(Case::invalidDate, at, iso);
      if (!peekSymbol(")")) fail(Case::invalidDate, _pos, tokenAt(_pos));
      ++_pos;
      setNumber(node, date->secondsSince1970 - kReferenceDateOffset);
      return;
    }
    if (word.empty()) failUnexpected();
    // A bare word: the format would read it as another key path, which queries do not use.
    fail(Case::typeMismatch, _pos, std::string(word));
  }

  std::string parseQuoted() {
    const std::size_t start = _pos;
    const char quote = _text[_pos++];
    std::string out;
    while (_pos < _text.size()) {
      char c = _text[_pos++];
      if (c == quote) return out;
      if (c == '\\') {
        if (_pos >= _text.size()) break;
        char next = _text[_pos++];
        out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
        continue;
      }
      out += c;
    }
    fail(Case::unterminatedText, start);
  }

  void parseNumber(Node& node) {
    const std::size_t start = _pos;
    std::size_t end = _pos;
    if (end < _text.size() && (_text[end] == '-' || _text[end] == '+')) ++end;
    bool whole = true;
    bool digits = false;
    while (end < _text.size() && isDigit(_text[end])) {
      ++end;
      digits = true;
    }
    if (end < _text.size() && _text[end] == '.') {
      whole = false;
      ++end;
      while (end < _text.size() && isDigit(_text[end])) {
        ++end;
        digits = true;
      }
    }
    if (digits && end < _text.size() && (_text[end] == 'e' || _text[end] == 'E')) {
      whole = false;
      std::size_t exponent = end + 1;
      if (exponent < _text.size() && (_text[exponent] == '-' || _text[exponent] == '+')) ++exponent;
      if (exponent < _text.size() && isDigit(_text[exponent])) {
        while (exponent < _text.size() && isDigit(_text[exponent])) ++exponent;
        end = exponent;
      } else {
        end = exponent;
        digits = false;
      }
    }
    // A number runs into no word: "12abc" is no number.
    if (end < _text.size() && isWordPart(_text[end])) {
      while (end < _text.size() && isWordPart(_text[end])) ++end;
      digits = false;
    }
    std::string written(_text.substr(start, end - start));
    if (!digits) fail(Case::invalidNumber, start, written);
    // from_chars takes no "+".
    std::string_view digitsText(written);
    if (!digitsText.empty() && digitsText.front() == '+') digitsText.remove_prefix(1);
    _pos = end;
    if (whole) {
      std::int64_t value = 0;
      auto [ptr, ec] = std::from_chars(digitsText.data(), digitsText.data() + digitsText.size(), value);
      if (ec == std::errc() && ptr == digitsText.data() + digitsText.size()) {
        node.integer = value;
        node.number = static_cast<double>(value);
        return;
      }
    }
    double value = 0;
    auto [ptr, ec] = std::from_chars(digitsText.data(), digitsText.data() + digitsText.size(), value);
    if (ec != std::errc() || ptr != digitsText.data() + digitsText.size() || !std::isfinite(value))
      fail(Case::invalidNumber, start, written);
    setNumber(node, value);
  }

  static void setNumber(Node& node, double value) {
    node.number = value;
    node.integer.reset();
    // Whole numbers compare exactly with sizes.
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 9.0e18)
      node.integer = static_cast<std::int64_t>(value);
  }

  static std::vector<PatternUnit> compilePattern(std::string_view text, bool caseInsensitive,
                                                 bool diacriticInsensitive) {
    std::vector<PatternUnit> pattern;
    std::string literal;
    std::u32string folded;
    auto flush = [&] {
      if (literal.empty()) return;
      platform::foldText(literal, {caseInsensitive, diacriticInsensitive}, folded);
      for (char32_t c : folded) pattern.push_back({PatternUnit::Kind::literal, c});
      literal.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      if (c == '\\' && i + 1 < text.size()) {
        literal += text[++i];
      } else if (c == '*' || c == '?') {
        flush();
        // Runs of "*" are one "*".
        if (c == '?' || pattern.empty() || pattern.back().kind != PatternUnit::Kind::any)
          pattern.push_back({c == '*' ? PatternUnit::Kind::any : PatternUnit::Kind::one, 0});
      } else {
        literal += c;
      }
    }
    flush();
    return pattern;
  }

  std::string_view _text;
  std::size_t _pos = 0;
  std::size_t _depth = 0;
};

}  // namespace

std::optional<MetadataAttribute> metadataAttributeFromName(std::string_view name) {
  for (const auto& [text, attribute] : kAttributeNames)
    if (text == name) return attribute;
  return std::nullopt;
}

std::string_view metadataAttributeName(MetadataAttribute attribute) {
  for (const auto& [text, value] : kAttributeNames)
    if (value == attribute) return text;
  return "_kMDItemFileName";
}

std::string_view PredicateParseError::caseName(Case errorCase) {
  switch (errorCase) {
    case Case::unexpectedEnd: return "unexpectedEnd";
    case Case::unexpectedCharacter: return "unexpectedCharacter";
    case Case::unexpectedToken: return "unexpectedToken";
    case Case::unknownAttribute: return "unknownAttribute";
    case Case::unknownOperator: return "unknownOperator";
    case Case::unknownOption: return "unknownOption";
    case Case::unterminatedText: return "unterminatedText";
    case Case::unbalancedParenthesis: return "unbalancedParenthesis";
    case Case::invalidNumber: return "invalidNumber";
    case Case::invalidDate: return "invalidDate";
    case Case::typeMismatch: return "typeMismatch";
    case Case::nestedTooDeeply: return "nestedTooDeeply";
  }
  return "unexpectedToken";
}

std::string PredicateParseError::localizedDescription() const {
  std::string_view what;
  switch (_case) {
    case Case::unexpectedEnd: what = "the predicate ends too early"; break;
    case Case::unexpectedCharacter: what = "unexpected character"; break;
    case Case::unexpectedToken: what = "unexpected"; break;
    case Case::unknownAttribute: what = "unknown attribute"; break;
    case Case::unknownOperator: what = "unknown operator"; break;
    case Case::unknownOption: what = "unknown comparison option"; break;
    case Case::unterminatedText: what = "quoted text without its closing quote"; break;
    case Case::unbalancedParenthesis: what = "unbalanced parenthesis"; break;
    case Case::invalidNumber: what = "invalid number"; break;
    case Case::invalidDate: what = "invalid date"; break;
    case Case::typeMismatch: what = "value or operator of the wrong type for its attribute"; break;
    case Case::nestedTooDeeply: what = "parentheses or NOT nested too deeply"; break;
  }
  if (_detail.empty()) return fmt::format("{} at position {}", what, _position);
  return fmt::format("{} \"{}\" at position {}", what, _detail, _position);
}

Result<MetadataPredicate> MetadataPredicate::parse(std::string_view text) {
  try {
    Parser parser(text);
    return MetadataPredicate(parser.parseAll());
  } catch (const ParseFailure& failure) {
    return std::make_shared<const PredicateParseError>(failure.errorCase, failure.position, failure.detail);
  }
}

MetadataPredicate MetadataPredicate::fromFormat(std::string_view text) {
  auto parsed = parse(text);
  if (parsed) return *parsed;
  LogError(parsed.error());
  auto never = std::make_shared<Node>();
  never->kind = Node::Kind::never;
  return MetadataPredicate(std::move(never));
}

MetadataPredicate::MetadataPredicate() : _root(std::make_shared<const Node>()) {}

bool MetadataPredicate::evaluate(const MetadataSubject& subject) const { return _root->evaluate(subject); }

bool MetadataPredicate::usesAttribute(MetadataAttribute attribute) const {
  std::vector<const Node*> pending{_root.get()};
  while (!pending.empty()) {
    const Node* node = pending.back();
    pending.pop_back();
    if (node->kind == Node::Kind::comparison && node->attribute == attribute) return true;
    for (const auto& child : node->children) pending.push_back(child.get());
  }
  return false;
}

std::string MetadataPredicate::format() const {
  std::string out;
  _root->write(out, Node::Kind::always);
  return out;
}

}  // namespace vantelkit

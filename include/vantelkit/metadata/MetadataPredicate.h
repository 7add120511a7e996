// A condition on the attributes of an indexed file, written in the predicate format of
// metadata queries: "(kMDItemFSSize > 100000000)", "_kMDItemFileName LIKE[cd] '*.pkg'".
// The format understood is the part that real queries use:
//   comparisons  ==  =  !=  <>  <  <=  =<  >  >=  =>
//   text tests   LIKE (with * for any run and ? for one character; \ makes either literal),
//                BEGINSWITH, ENDSWITH, CONTAINS
//   options      [c] ignore case, [d] ignore diacritical marks, [cd] both, after any operator
//   logic        AND  OR  NOT  &&  ||  !  parentheses, TRUEPREDICATE, FALSEPREDICATE
//   values       'quoted' or "quoted" texts (\ escapes the next character; \n, \t), numbers
//                (12, -3.5, 1e9), and for dates $time.now, $time.now(SECONDS) and
//                $time.iso('2024-01-31T12:00:00Z')
//   attributes   _kMDItemFileName, kMDItemFSName, kMDItemDisplayName (the file's name),
//                kMDItemPath (texts); kMDItemFSSize (bytes) and kMDItemContentModificationDate
//                (numbers: seconds since 2001-01-01T00:00:00Z)
// Keywords are case-insensitive. An attribute stands left of its operator. A text that does
// not parse is a PredicateParseError with the byte position of the fault, never a crash; so
// are unknown attributes and a value of the wrong type for its attribute or operator.
// Thread safety: a parsed predicate is immutable; evaluate it from any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/foundation/Value.h"

namespace vantelkit {

enum class MetadataAttribute { fileName, fsName, displayName, path, fsSize, contentModificationDate };

// "_kMDItemFileName", "kMDItemFSName", ... as a query names them; none for other names.
std::optional<MetadataAttribute> metadataAttributeFromName(std::string_view name);
std::string_view metadataAttributeName(MetadataAttribute attribute);

// One indexed file as a predicate sees it. The file's name serves every name attribute.
class MetadataSubject {
 public:
  virtual ~MetadataSubject() = default;
  virtual std::string_view name() const = 0;
  virtual std::string path() const = 0;
  virtual std::optional<std::int64_t> size() const = 0;
  virtual std::optional<Date> contentModificationDate() const = 0;
};

class PredicateParseError final : public Error {
 public:
  enum class Case {
    unexpectedEnd,          // the text ends where more was needed
    unexpectedCharacter,    // a character that starts no token
    unexpectedToken,        // a token where another was needed (detail: the token)
    unknownAttribute,       // detail: the name
    unknownOperator,        // detail: the word
    unknownOption,          // detail: the text between [ and ]
    unterminatedText,       // a quoted text without its closing quote
    unbalancedParenthesis,  // a ( without ) or a ) without (
    invalidNumber,          // detail: the number as written
    invalidDate,            // detail: the date text or function
    typeMismatch,           // a value or operator that does not suit its attribute
    nestedTooDeeply,        // more than maximumNesting parentheses and NOTs inside each other
  };
  static constexpr std::size_t maximumNesting = 200;

  PredicateParseError(Case errorCase, std::size_t position, std::string detail = {})
      : _case(errorCase), _position(position), _detail(std::move(detail)) {}
  Case errorCase() const { return _case; }
  // Byte offset into the predicate text, 0 for its first byte.
  std::size_t position() const { return _position; }
  const std::string& detail() const { return _detail; }
  static std::string_view caseName(Case errorCase);

  std::string typeName() const override { return "PredicateParseError"; }
  std::string description() const override { return std::string(caseName(_case)); }
  // "unknown attribute "kMDItemColor" at position 1"
  std::string localizedDescription() const override;

 private:
  Case _case;
  std::size_t _position;
  std::string _detail;
};

class MetadataPredicate {
 public:
  // The predicate in text; or a PredicateParseError with the position of the fault.
  static Result<MetadataPredicate> parse(std::string_view text);
  // parse() for texts known to be correct: a predicate that matches nothing when the text
  // does not parse (the fault is logged).
  static MetadataPredicate fromFormat(std::string_view text);

  // The predicate that matches everything.
  MetadataPredicate();

  // False when the attribute the comparison needs is absent (for != too).
  bool evaluate(const MetadataSubject& subject) const;
  // Whether the predicate reads the attribute (a date test costs the index an extra look
  // at each file).
  bool usesAttribute(MetadataAttribute attribute) const;
  // A canonical text that parses back to an equal predicate ($time values as numbers).
  std::string format() const;

  // Equal when the canonical texts are.
  bool operator==(const MetadataPredicate& other) const { return format() == other.format(); }

  struct Node;

 private:
  explicit MetadataPredicate(std::shared_ptr<const Node> root) : _root(std::move(root)) {}
  std::shared_ptr<const Node> _root;
};

}  // namespace vantelkit

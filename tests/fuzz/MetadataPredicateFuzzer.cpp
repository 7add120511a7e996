// Parses random texts as query predicates. The first line is the predicate; the rest of the
// input is a file name to evaluate it against. A text either parses or gives an error whose
// position lies within it; a parsed predicate's canonical text parses again to the same
// text and gives the same answer for the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vantelkit/metadata/MetadataPredicate.h"

using namespace vantelkit;

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

class Subject final : public MetadataSubject {
 public:
  explicit Subject(std::string_view name) : _name(name) {}
  std::string_view name() const override { return _name; }
  std::string path() const override { return "/fuzz/" + std::string(_name); }
  std::optional<std::int64_t> size() const override { return static_cast<std::int64_t>(_name.size()) * 1000; }
  std::optional<Date> contentModificationDate() const override { return Date{1.0e9}; }

 private:
  std::string_view _name;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t end = std::min(input.find('\n'), input.size());
  const std::string_view text = input.substr(0, end);
  const std::string_view name = input.substr(std::min(end + 1, input.size()));

  auto parsed = MetadataPredicate::parse(text);
  if (const auto* error = parsed.errorAs<PredicateParseError>()) {
    check(error->position() <= text.size());
    check(!error->localizedDescription().empty());
    return 0;
  }
  check(parsed.hasValue());
  const auto& predicate = *parsed;
  const std::string canonical = predicate.format();
  auto again = MetadataPredicate::parse(canonical);
  check(again.hasValue());
  const auto& reparsed = *again;
  check(reparsed.format() == canonical);
  // $time.now is read anew at each parse, but the canonical text holds its value as a number.
  Subject subject(name);
  check(predicate.evaluate(subject) == reparsed.evaluate(subject));
  return 0;
}

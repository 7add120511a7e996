#include "vantelkit/applications/SupportFileMatcher.h"

#include "vantelkit/platform/TextCase.h"

namespace vantelkit {

SupportFileMatcher::SupportFileMatcher(const std::vector<BundleInfo>& bundles) {
  _names.reserve(bundles.size());
  _identifiers.reserve(bundles.size());
  for (const auto& bundle : bundles) {
    _names.push_back(platform::lowercased(bundle.name));
    _identifiers.push_back(platform::lowercased(bundle.identifier));
  }
}

std::optional<SupportFileMatcher::Match> SupportFileMatcher::match(std::string_view fileName) const {
  const std::string name = platform::lowercased(fileName);
  for (std::size_t i = 0; i < _names.size(); ++i) {
    if (name == _names[i]) return Match{Match::Kind::name, i};
  }
  for (std::size_t i = 0; i < _identifiers.size(); ++i) {
    if (!_identifiers[i].empty() && name.find(_identifiers[i]) != std::string::npos) {
      return Match{Match::Kind::identifier, i};
    }
  }
  return std::nullopt;
}

std::string_view SupportFileMatcher::kindName(Match::Kind kind) {
  return kind == Match::Kind::name ? "name" : "identifier";
}

}  // namespace vantelkit

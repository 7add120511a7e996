#include "vantelkit/applications/BundleInfo.h"

#include "vantelkit/formats/Bundle.h"

namespace vantelkit {

std::string vendorOfIdentifier(std::string_view identifier) {
  const std::size_t firstDot = identifier.find('.');
  if (firstDot == std::string_view::npos) return {};
  const std::string_view rest = identifier.substr(firstDot + 1);
  return std::string(rest.substr(0, rest.find('.')));
}

BundleInfo::BundleInfo(std::string bundleName, std::string bundleIdentifier, BundleVersion version)
    : name(std::move(bundleName)),
      identifier(std::move(bundleIdentifier)),
      vendor(vendorOfIdentifier(identifier)),
      version(std::move(version)) {}

namespace {

std::string removingAll(std::string text, std::string_view part) {
  std::string out;
  std::size_t position = 0;
  while (true) {
    const std::size_t found = text.find(part, position);
    out.append(text, position, found == std::string::npos ? std::string::npos : found - position);
    if (found == std::string::npos) break;
    position = found + part.size();
  }
  return out;
}

}  // namespace

std::optional<BundleInfo> BundleInfo::fromInfoDictionary(const Value::Dictionary& info,
                                                     std::string_view bundleFolderName) {
  auto textFor = [&](std::string_view key) -> const std::string* {
    auto it = info.find(key);
    return it == info.end() ? nullptr : it->second.text();
  };
  const std::string* identifier = textFor("CFBundleIdentifier");
  if (!identifier) return std::nullopt;
  const std::string* name = textFor("CFBundleName");
  if (!name) name = textFor("CFBundleExecutable");
  if (!name) return std::nullopt;
  const std::string* versionText = textFor("CFBundleVersion");
  const std::string* shortVersionText = textFor("CFBundleShortVersionString");
  BundleVersion version(versionText ? std::optional<std::string_view>(*versionText) : std::nullopt,
                        shortVersionText ? std::optional<std::string>(*shortVersionText) : std::nullopt);
  std::string displayName = name->empty() ? removingAll(std::string(bundleFolderName), ".app") : *name;
  return BundleInfo(std::move(displayName), *identifier, std::move(version));
}

std::optional<BundleInfo> BundleInfo::fromURL(const FileURL& url) {
  auto bundle = Bundle::open(url.path());
  if (!bundle) return std::nullopt;
  return fromInfoDictionary(bundle->infoDictionary(), url.lastPathComponent());
}

}  // namespace vantelkit

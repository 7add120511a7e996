#include "vantelkit/applications/BundleInfo.h"

#include "vantelkit/platform/Bundle.h"

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

std::optional<BundleInfo> BundleInfo::fromURL(const FileURL& url) {
  auto bundle = platform::Bundle::open(url.path());
  if (!bundle) return std::nullopt;
  auto identifier = bundle->textForInfoDictionaryKey("CFBundleIdentifier");
  if (!identifier) return std::nullopt;
  auto name = bundle->textForInfoDictionaryKey("CFBundleName");
  if (!name) name = bundle->textForInfoDictionaryKey("CFBundleExecutable");
  if (!name) return std::nullopt;
  const auto versionText = bundle->textForInfoDictionaryKey("CFBundleVersion");
  BundleVersion version(versionText ? std::optional<std::string_view>(*versionText) : std::nullopt,
                        bundle->textForInfoDictionaryKey("CFBundleShortVersionString"));
  if (name->empty()) name = removingAll(url.lastPathComponent(), ".app");
  return BundleInfo(std::move(*name), std::move(*identifier), std::move(version));
}

}  // namespace vantelkit

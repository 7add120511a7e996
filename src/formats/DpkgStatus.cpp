#include "vantelkit/formats/DpkgStatus.h"

#include <charconv>

namespace vantelkit {

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

struct Paragraph {
  std::string package;
  std::string version;
  std::string status;
  std::string installedSize;
};

void keep(Paragraph& paragraph, std::map<std::string, DpkgPackage, std::less<>>& packages) {
  const bool installed = paragraph.status.size() >= 10 && paragraph.status.ends_with(" installed");
  if (installed && !paragraph.package.empty() && !paragraph.version.empty()) {
    DpkgPackage package{paragraph.package, paragraph.version, std::nullopt};
    std::int64_t kibibytes = 0;
    const auto* begin = paragraph.installedSize.data();
    const auto* end = begin + paragraph.installedSize.size();
    auto [rest, error] = std::from_chars(begin, end, kibibytes);
    if (error == std::errc() && rest == end && !paragraph.installedSize.empty() && kibibytes >= 0 &&
        kibibytes <= INT64_MAX / 1024) {
      package.installedSize = kibibytes * 1024;
    }
    packages.try_emplace(package.name, std::move(package));
  }
  paragraph = Paragraph{};
}

}  // namespace

std::map<std::string, DpkgPackage, std::less<>> parseDpkgStatus(std::string_view text) {
  std::map<std::string, DpkgPackage, std::less<>> packages;
  Paragraph paragraph;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (trimmed(line).empty()) {
      keep(paragraph, packages);
      if (end == text.size()) break;
      continue;
    }
    if (line.front() == ' ' || line.front() == '\t') continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view field = line.substr(0, colon);
    const std::string value(trimmed(line.substr(colon + 1)));
    if (field == "Package") paragraph.package = value;
    else if (field == "Version") paragraph.version = value;
    else if (field == "Status") paragraph.status = value;
    else if (field == "Installed-Size") paragraph.installedSize = value;
    if (end == text.size()) break;
  }
  keep(paragraph, packages);
  return packages;
}

std::optional<std::string> dpkgListPackageName(std::string_view fileName) {
  if (!fileName.ends_with(".list") || fileName.size() <= 5) return std::nullopt;
  fileName.remove_suffix(5);
  const std::size_t colon = fileName.find(':');
  if (colon != std::string_view::npos) fileName = fileName.substr(0, colon);
  if (fileName.empty()) return std::nullopt;
  return std::string(fileName);
}

}  // namespace vantelkit

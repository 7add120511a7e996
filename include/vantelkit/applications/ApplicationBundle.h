// The light record the clean scanner keeps for every installed application: location,
// identity and icon. Equal (and hashed) by bundle identifier, so a set holds one per
// identifier.
// Thread safety: one owner at a time; made on a scan's worker thread and then handed over.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "vantelkit/applications/BundleInfo.h"
#include "vantelkit/platform/Image.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class ApplicationBundle {
 public:
  ApplicationBundle(FileURL url, BundleInfo bundleInfo, std::optional<platform::Image> icon = std::nullopt)
      : _url(std::move(url)), bundleInfo(std::move(bundleInfo)), icon(std::move(icon)) {}
  static std::shared_ptr<ApplicationBundle> make(FileURL url, BundleInfo bundleInfo,
                                                 std::optional<platform::Image> icon = std::nullopt) {
    return std::make_shared<ApplicationBundle>(std::move(url), std::move(bundleInfo), std::move(icon));
  }
  ApplicationBundle(const ApplicationBundle&) = delete;
  ApplicationBundle& operator=(const ApplicationBundle&) = delete;

  // The ".app" folder.
  const FileURL& url() const { return _url; }

 private:
  FileURL _url;

 public:
  BundleInfo bundleInfo;
  // The bundle's icon at 128 points; none until set.
  std::optional<platform::Image> icon;

  const std::string& identifier() const { return bundleInfo.identifier; }
  const std::string& name() const { return bundleInfo.name; }

  bool operator==(const ApplicationBundle& other) const { return identifier() == other.identifier(); }
  std::size_t hash() const { return std::hash<std::string>{}(identifier()); }
};

struct ApplicationBundleHash {
  std::size_t operator()(const std::shared_ptr<ApplicationBundle>& bundle) const {
    return bundle ? bundle->hash() : 0;
  }
};
struct ApplicationBundleEqual {
  bool operator()(const std::shared_ptr<ApplicationBundle>& a, const std::shared_ptr<ApplicationBundle>& b) const {
    if (!a || !b) return a == b;
    return *a == *b;
  }
};
using ApplicationBundleSet =
    std::unordered_set<std::shared_ptr<ApplicationBundle>, ApplicationBundleHash, ApplicationBundleEqual>;

}  // namespace vantelkit

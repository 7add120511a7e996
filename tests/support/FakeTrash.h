// A trash that moves nothing: it records what it was asked, answers items in a made-up trash
// folder, and fails where a test tells it to.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "vantelkit/platform/Trash.h"

namespace vantel::testing {

class FakeTrash final : public vantelkit::platform::Trash {
 public:
  std::variant<Item, Failure> moveToTrash(const std::string& path) override {
    moved.push_back(path);
    if (failing.count(path)) return failure(path);
    return Item{path, "/trash/files/" + std::to_string(moved.size()), "/trash/info/" + std::to_string(moved.size())};
  }
  std::optional<Failure> restore(const Item& item) override {
    restored.push_back(item.originalPath);
    if (failing.count(item.originalPath)) return failure(item.originalPath);
    return std::nullopt;
  }
  std::optional<Failure> removePermanently(const std::string& path) override {
    removed.push_back(path);
    if (failing.count(path)) return failure(path);
    return std::nullopt;
  }

  std::set<std::string> failing;  // paths every call refuses
  std::vector<std::string> moved, restored, removed;

 private:
  static Failure failure(const std::string& path) {
    return Failure{std::make_error_code(std::errc::permission_denied), "refused: " + path};
  }
};

}  // namespace vantel::testing

// The desktop's trash, laid out as freedesktop.org's trash layout has it: an entry moved
// into the trash of its own volume with a .trashinfo record beside it, put back where it
// was, or removed for good. Links are never followed: a link is moved or removed itself.
// Thread safety: an implementation may be used from any thread; two calls on the same
// path at once are not ordered.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <variant>

namespace vantelkit::platform {

class Trash {
 public:
  // An entry this trash has moved: where it was, and where it is now.
  struct Item {
    std::string originalPath;
    std::string trashedPath;  // in the trash's files/ folder
    std::string infoPath;     // its .trashinfo in the trash's info/ folder
    bool operator==(const Item&) const = default;
  };
  struct Failure {
    std::error_code code;  // compares with std::errc where the system gave a number
    std::string reason;    // the text to show
    bool operator==(const Failure&) const = default;
  };

  virtual ~Trash() = default;
  // Moves the entry at path (a link itself, not what it points to) into the trash of its
  // volume. The entry stays where it was on failure.
  virtual std::variant<Item, Failure> moveToTrash(const std::string& path) = 0;
  // Moves item back to its original path and drops its .trashinfo. Refuses (leaving the
  // trash as it is) when something is at the original path now or its folder is gone.
  virtual std::optional<Failure> restore(const Item& item) = 0;
  // Removes the entry at path and everything below it, for good, never following a link
  // and never leaving the file system the entry is on. What could not be removed stays and
  // the first reason is answered.
  virtual std::optional<Failure> removePermanently(const std::string& path) = 0;

  // The system's trash (GIO's trash support on Linux).
  static std::shared_ptr<Trash> platformDefault();
};

}  // namespace vantelkit::platform

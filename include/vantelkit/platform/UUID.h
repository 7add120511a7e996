// Universally unique identifiers: random (version 4) ones for identifying registrations.
// Thread safety: a value type; UUID::random() is safe to call from any thread.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantelkit {

struct UUID {
  std::array<std::uint8_t, 16> bytes{};

  // A new version-4 UUID: 122 random bits from a generator seeded by std::random_device.
  static UUID random();
  // Reads "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (hexadecimal digits in either case).
  static std::optional<UUID> fromString(std::string_view text);
  // The canonical text, upper-case.
  std::string uuidString() const;

  auto operator<=>(const UUID&) const = default;
};

}  // namespace vantelkit

template <>
struct std::hash<vantelkit::UUID> {
  std::size_t operator()(const vantelkit::UUID& uuid) const noexcept {
    std::size_t value = 0;
    for (const auto byte : uuid.bytes) value = value * 131 + byte;
    return value;
  }
};

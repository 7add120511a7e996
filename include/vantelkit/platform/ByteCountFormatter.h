// Turns byte counts into short texts for people ("512 KB", "1.5 GB"), independent of locale.
// Thread safety: pure functions, safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace vantelkit::platform {

class ByteCountFormatter {
 public:
  // memory: binary units (1 KB = 1024 bytes), for memory sizes. file: decimal units
  // (1 KB = 1000 bytes), for file and disk sizes.
  enum class CountStyle { file, memory };

  ByteCountFormatter() = delete;

  // "Zero KB" for 0; "1 byte" and "N bytes" below one kilobyte; then KB with no decimals, MB
  // with one, GB and larger units with two, trailing zeros dropped ("1.5 GB", "16 GB").
  // A value that rounds up to a full next unit is shown in that unit ("1 MB", not "1024 KB").
  // Negative counts get a leading "-".
  static std::string string(std::int64_t byteCount, CountStyle style);
};

}  // namespace vantelkit::platform

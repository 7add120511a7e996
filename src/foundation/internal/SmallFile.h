// Reading a small file whole.
// Thread safety: a free function; call it from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vantelkit::internal {

// The whole file, when path names a regular file (links followed) of at most limit bytes.
// A fifo or device is never opened, so reading cannot block.
std::optional<std::string> readRegularFile(const std::filesystem::path& path, std::uintmax_t limit);

}  // namespace vantelkit::internal

#include "vantelkit/platform/SystemMemory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vantelkit::platform {
namespace {

std::optional<std::uint64_t> pageSize() {
  long size = ::sysconf(_SC_PAGESIZE);
  if (size <= 0) return std::nullopt;
  return static_cast<std::uint64_t>(size);
}

// Reads /proc/self/statm: "size resident shared text lib data dt", in pages.
std::optional<std::uint64_t> residentPages() {
  int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[256];
  ssize_t length;
  do {
    length = ::read(fd, buffer, sizeof(buffer) - 1);
  } while (length < 0 && errno == EINTR);
  ::close(fd);
  if (length <= 0) return std::nullopt;
  buffer[length] = '\0';

  char* end = nullptr;
  std::strtoull(buffer, &end, 10);  // total program size
  if (end == buffer || *end != ' ') return std::nullopt;
  char* residentStart = end + 1;
  errno = 0;
  unsigned long long resident = std::strtoull(residentStart, &end, 10);
  if (end == residentStart || errno == ERANGE) return std::nullopt;
  return static_cast<std::uint64_t>(resident);
}

class LinuxSystemMemory final : public SystemMemory {
 public:
  std::optional<std::uint64_t> residentSize() override {
    auto pages = residentPages();
    auto size = pageSize();
    if (!pages || !size) return std::nullopt;
    return *pages * *size;
  }

  std::optional<std::uint64_t> physicalMemory() override {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    auto size = pageSize();
    if (pages <= 0 || !size) return std::nullopt;
    return static_cast<std::uint64_t>(pages) * *size;
  }
};

}  // namespace

std::shared_ptr<SystemMemory> SystemMemory::system() {
  static auto memory = std::make_shared<LinuxSystemMemory>();
  return memory;
}

}  // namespace vantelkit::platform

#include "vantelkit/platform/PipeAndSocketFiles.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace vantelkit::platform {

bool makeFifo(std::string_view path) { return ::mkfifo(std::string(path).c_str(), 0644) == 0; }

bool makeSocketFile(std::string_view path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) return false;
  bool bound = ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(descriptor);
  return bound;
}

}  // namespace vantelkit::platform

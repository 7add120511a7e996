// Making the special file system items that fixture trees and tools need: named pipes and
// socket files. Thread safety: safe to call from any thread.
#pragma once

#include <string_view>

namespace vantelkit::platform {

// Creates a named pipe at path. False when it cannot be made (it exists, no permission).
bool makeFifo(std::string_view path);
// Creates a socket file at path (a bound local socket, closed again; the file stays).
// False when it cannot be made, for example when path is too long for a socket address.
bool makeSocketFile(std::string_view path);

}  // namespace vantelkit::platform

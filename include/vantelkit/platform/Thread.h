// Identity of the calling thread: a small stable number (the main thread's is 1) and the
// platform's thread name. Thread safety: safe to call from any thread.
#pragma once

#include <string>
#include <string_view>

namespace vantelkit::platform {

// A small number, stable for the life of the thread: 1 for the main thread, then 2, 3, ...
// in the order threads first ask.
int currentThreadNumber();
// The platform name of the calling thread, or the empty text when it has none of its own.
std::string currentThreadName();
// Sets the platform name of the calling thread (cut to what the platform allows).
void setCurrentThreadName(std::string_view name);

}  // namespace vantelkit::platform

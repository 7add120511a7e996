// Which sanitizer the tests are built with, so that stress tests can take fewer rounds where
// every memory access is instrumented (ThreadSanitizer runs them many times slower).
// Thread safety: constants only.
#pragma once

namespace vantelkit::testing {

#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
#else
inline constexpr bool kThreadSanitizer = false;
#endif

}  // namespace vantelkit::testing

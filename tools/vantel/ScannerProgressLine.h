// A progress bar on one line of stderr, driven by a scanner's listener callbacks
// (progressUpdate, scanDidFinish). Used on the main queue only.
#pragma once

#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "TextOutput.h"

namespace vantel {

// Listener is a scanner's listener interface with progressUpdate(double, const std::string&)
// and scanDidFinish(). The bar is drawn only when visible (stderr is a terminal) and is
// cleared when the scan finishes; finished tells the caller's main-queue loop when to stop.
template <typename Listener>
class ScannerProgressLine : public Listener {
 public:
  explicit ScannerProgressLine(bool visible) : _visible(visible) {}
  void progressUpdate(double progress, const std::string& message) override {
    if (!_visible) return;
    constexpr int width = 24;
    const int filled = std::clamp(static_cast<int>(progress * width + 0.5), 0, width);
    fmt::print(stderr, "\r\033[K[{}{}] {:3.0f}% {}", std::string(static_cast<std::size_t>(filled), '#'),
               std::string(static_cast<std::size_t>(width - filled), '.'), progress * 100, escapedForTerminal(message));
    std::fflush(stderr);
  }
  void scanDidFinish() override {
    finished = true;
    if (_visible) fmt::print(stderr, "\r\033[K");
  }
  bool finished = false;

 private:
  bool _visible;
};

}  // namespace vantel

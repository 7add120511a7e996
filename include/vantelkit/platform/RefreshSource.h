// A display refresh source: calls an output function once per refresh of the main display,
// on a high-priority thread of its own. Display links build on it.
// Thread safety: start(), stop() and isRunning() are safe from any thread; set the output
// function and bind the display before start(). The output function must be short and must
// not call stop().
#pragma once

#include <functional>
#include <memory>

namespace vantelkit::platform {

class RefreshSource {
 public:
  using Output = std::function<void()>;

  virtual ~RefreshSource() = default;
  RefreshSource() = default;
  RefreshSource(const RefreshSource&) = delete;
  RefreshSource& operator=(const RefreshSource&) = delete;

  // Installs the function called at every refresh. Returns false when the source refuses it.
  virtual bool setOutput(Output output) = 0;
  // Binds the source to the main display. Returns false when there is none to bind to.
  virtual bool bindToMainDisplay() = 0;
  // Starts the refreshes; true when running afterwards (also when it already ran).
  virtual bool start() = 0;
  // Stops the refreshes; when it returns, the output function is no longer being called.
  virtual void stop() = 0;
  virtual bool isRunning() const = 0;

  // A source for the active displays, or null when none can be created. On Linux this is a
  // steady 60 Hz software clock.
  static std::unique_ptr<RefreshSource> makeForActiveDisplays();
};

}  // namespace vantelkit::platform

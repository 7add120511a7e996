// A refresh source driven by the test: tick() plays one display refresh on the calling
// thread. Its Control outlives the source, so a test can drive and inspect it after handing
// the source to a display link.
#pragma once

#include <memory>
#include <mutex>

#include "vantelkit/platform/RefreshSource.h"

namespace vantelkit::fakes {

class FakeRefreshSource final : public platform::RefreshSource {
 public:
  struct Control {
    bool failSetOutput = false;  // set before handing the source over
    bool failBind = false;

    // Plays one refresh when running; returns whether it did.
    bool tick() {
      std::lock_guard lock(mutex);
      if (!running || !output) return false;
      output();
      return true;
    }
    bool isRunning() {
      std::lock_guard lock(mutex);
      return running;
    }
    int starts() {
      std::lock_guard lock(mutex);
      return startCount;
    }
    int stops() {
      std::lock_guard lock(mutex);
      return stopCount;
    }

    std::mutex mutex;
    Output output;          // guarded by mutex
    bool running = false;   // guarded by mutex
    int startCount = 0;     // guarded by mutex
    int stopCount = 0;      // guarded by mutex
  };

  FakeRefreshSource() : _control(std::make_shared<Control>()) {}
  ~FakeRefreshSource() override { stop(); }
  std::shared_ptr<Control> control() const { return _control; }

  bool setOutput(Output output) override {
    if (_control->failSetOutput) return false;
    std::lock_guard lock(_control->mutex);
    _control->output = std::move(output);
    return true;
  }
  bool bindToMainDisplay() override { return !_control->failBind; }
  bool start() override {
    std::lock_guard lock(_control->mutex);
    if (!_control->running) ++_control->startCount;
    _control->running = true;
    return true;
  }
  void stop() override {
    std::lock_guard lock(_control->mutex);
    if (_control->running) ++_control->stopCount;
    _control->running = false;
  }
  bool isRunning() const override {
    std::lock_guard lock(_control->mutex);
    return _control->running;
  }

 private:
  std::shared_ptr<Control> _control;
};

}  // namespace vantelkit::fakes

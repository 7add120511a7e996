#include "vantelkit/foundation/DisplayLink.h"

#include <string>

#include "foundation/internal/HandlerGate.h"
#include "vantelkit/platform/PlatformLog.h"

namespace vantelkit {
namespace {

// A source that was never resumed is cancelled, then resumed once so that it is released.
void releaseSuspended(DispatchSource& source) {
  source.setEventHandler({});
  source.cancel();
  source.resume();
}

}  // namespace

struct DisplayLink::Core {
  void fire() {
    internal::HandlerGate::Pass pass(gate);
    if (!pass) return;
    Callback current;
    {
      std::lock_guard lock(mutex);
      current = callback;
    }
    if (current) current();
  }

  std::mutex mutex;
  Callback callback;  // guarded by mutex
  internal::HandlerGate gate;
};

std::shared_ptr<DisplayLink> DisplayLink::make(std::shared_ptr<DispatchQueue> queue) {
  return make(std::move(queue), platform::RefreshSource::makeForActiveDisplays());
}

std::shared_ptr<DisplayLink> DisplayLink::make(std::shared_ptr<DispatchQueue> queue,
                                               std::unique_ptr<platform::RefreshSource> refreshSource) {
  if (!queue) queue = DispatchQueue::main();
  auto source = DispatchSourceUserDataAdd::make(std::move(queue));
  if (!refreshSource) {
    platform::platformLog("Failed to create timer with active display");
    releaseSuspended(*source);
    return nullptr;
  }
  // The refresh thread only adds to the source; the queue merges what it has not yet run.
  if (!refreshSource->setOutput([source] { source->add(1); })) {
    platform::platformLog("Failed to create timer with active display");
    releaseSuspended(*source);
    return nullptr;
  }
  if (!refreshSource->bindToMainDisplay()) {
    platform::platformLog("Failed to connect to display");
    releaseSuspended(*source);
    return nullptr;
  }

  std::shared_ptr<DisplayLink> link(new DisplayLink());
  link->_core = std::make_shared<Core>();
  link->_timer = std::move(refreshSource);
  link->_source = std::move(source);
  link->_source->setEventHandler([weakCore = std::weak_ptr<Core>(link->_core)] {
    if (auto core = weakCore.lock()) core->fire();
  });
  return link;
}

DisplayLink::~DisplayLink() {
  if (running()) cancel();
  {
    std::lock_guard lock(_mutex);
    if (!_started) releaseSuspended(*_source);
  }
  _core->gate.close();
}

void DisplayLink::start() {
  std::lock_guard lock(_mutex);
  if (_cancelled || _timer->isRunning()) return;
  if (!_timer->start()) {
    platform::platformLog("Failed to start display link " + _source->debugDescription());
    return;
  }
  if (!_started) {
    _started = true;
    _source->resume();
  }
}

void DisplayLink::cancel() {
  std::lock_guard lock(_mutex);
  auto description = _source->debugDescription();
  platform::platformLog("Cancelling display link " + description + "...");
  if (!_timer->isRunning()) return;
  _timer->stop();
  _source->cancel();
  _cancelled = true;
  platform::platformLog("Cancelled display link " + description + "!");
}

bool DisplayLink::running() const { return _timer->isRunning(); }

DisplayLink::Callback DisplayLink::callback() const {
  std::lock_guard lock(_core->mutex);
  return _core->callback;
}

void DisplayLink::setCallback(Callback callback) {
  std::lock_guard lock(_core->mutex);
  _core->callback = std::move(callback);
}

}  // namespace vantelkit

// Calls a callback once per display refresh on a dispatch queue. Refreshes that arrive while
// the queue is busy are merged, so a slow callback runs less often instead of queueing up.
// Single-use: created stopped, start() runs it, cancel() ends it for good.
// Thread safety: every member function is safe to call from any thread; the callback runs
// on the link's queue.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/DispatchSource.h"
#include "vantelkit/platform/RefreshSource.h"

namespace vantelkit {

class DisplayLink {
 public:
  using Callback = std::function<void()>;

  // A stopped link for the active displays whose callback runs on queue (the main queue when
  // null). Null when the display's refresh source cannot be set up; the reason is written to
  // the platform log.
  static std::shared_ptr<DisplayLink> make(std::shared_ptr<DispatchQueue> queue = DispatchQueue::main());
  // The same over a refresh source of the caller's (null stands for one that could not be
  // created).
  static std::shared_ptr<DisplayLink> make(std::shared_ptr<DispatchQueue> queue,
                                           std::unique_ptr<platform::RefreshSource> refreshSource);

  // Cancels a running link; waits for a callback under way on another thread, so nothing
  // the callback captured is touched after this returns.
  ~DisplayLink();
  DisplayLink(const DisplayLink&) = delete;
  DisplayLink& operator=(const DisplayLink&) = delete;

  // Starts the refreshes; nothing when already running or after cancel().
  void start();
  // Writes "Cancelling display link <source>..." to the platform log; when running, stops the
  // refreshes and the deliveries and writes "Cancelled display link <source>!".
  void cancel();
  bool running() const;

  Callback callback() const;
  void setCallback(Callback callback);

 private:
  struct Core;
  DisplayLink() = default;

  std::unique_ptr<platform::RefreshSource> _timer;
  std::shared_ptr<DispatchSourceUserDataAdd> _source;
  std::shared_ptr<Core> _core;  // shared with the source's handler, which holds it weakly
  mutable std::mutex _mutex;
  bool _started = false;    // guarded by _mutex: whether start() resumed the source
  bool _cancelled = false;  // guarded by _mutex
};

}  // namespace vantelkit

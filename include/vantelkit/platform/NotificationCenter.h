// A process-wide notification centre: named notifications with an object payload and
// optional user info, delivered to observers that registered for the name (or for every
// name), either synchronously on the posting thread or asynchronously on a queue of theirs.
// Thread safety: every function is safe to call from any thread, including from inside an
// observer's callback (an observer may post, add observers, or remove itself).
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit::platform {

struct Notification {
  using UserInfo = std::map<std::string, std::any, std::less<>>;

  std::string name;
  // The attached object; empty when the poster attached none.
  std::any object;
  std::optional<UserInfo> userInfo;
};

class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;

  // Identifies one registration; hand it back to removeObserver().
  struct ObserverToken {
    std::uint64_t value = 0;
    bool operator==(const ObserverToken&) const = default;
  };

  // The centre shared by the whole process; it lives until the process ends.
  static NotificationCenter& defaultCenter();

  // A private centre (tests, embedded hosts). Destroying it while observers are being
  // called is a programming error.
  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // Registers observer for notifications called name (every notification when none). With a
  // queue, each delivery is submitted to it asynchronously; without one, the observer runs on
  // the posting thread before post() returns. An empty observer is never called.
  ObserverToken addObserver(std::optional<std::string> name, std::shared_ptr<DispatchQueue> queue,
                            Observer observer);
  ObserverToken addObserver(std::optional<std::string> name, Observer observer) {
    return addObserver(std::move(name), nullptr, std::move(observer));
  }

  // Ends a registration; an unknown or already removed token is ignored. No call of the
  // observer starts after this returns, including deliveries already queued. When called
  // outside every notification callback, it also waits for calls of this observer that are
  // under way on other threads, so the observer's captures may be destroyed next. Inside a
  // callback it does not wait, which keeps self-removal free of deadlocks. Do not hold a lock
  // that the observer takes while removing it.
  void removeObserver(ObserverToken token);

  // Delivers the notification to every observer registered for its name at this moment, in
  // registration order. An exception thrown by an observer is written to the platform log
  // and goes no further.
  void post(Notification notification);
  void post(std::string name, std::any object = {}, std::optional<Notification::UserInfo> userInfo = std::nullopt) {
    post(Notification{std::move(name), std::move(object), std::move(userInfo)});
  }

  // Number of registrations, for tests and diagnostics.
  std::size_t observerCount() const;

 private:
  struct Registration;

  mutable std::mutex _mutex;
  std::uint64_t _nextToken = 1;                                 // guarded by _mutex
  std::vector<std::shared_ptr<Registration>> _registrations;    // guarded by _mutex
};

}  // namespace vantelkit::platform

#include "vantelkit/platform/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <thread>

#include "vantelkit/platform/PlatformLog.h"

namespace vantelkit::platform {
namespace {

// How many observer callbacks the calling thread is inside (of any centre).
thread_local int callbackDepth = 0;

}  // namespace

struct NotificationCenter::Registration {
  Registration(std::uint64_t token, std::optional<std::string> name, std::shared_ptr<DispatchQueue> queue,
               Observer observer)
      : token(token), name(std::move(name)), queue(std::move(queue)), observer(std::move(observer)) {}

  bool matches(const std::string& notificationName) const { return !name || *name == notificationName; }

  void deliver(const Notification& notification) {
    {
      std::lock_guard lock(mutex);
      if (removed) return;
      callers.push_back(std::this_thread::get_id());
    }
    ++callbackDepth;
    try {
      observer(notification);
    } catch (const std::exception& e) {
      platformLog("Notification observer of " + notification.name + " threw: " + e.what());
    } catch (...) {
      platformLog("Notification observer of " + notification.name + " threw");
    }
    --callbackDepth;
    std::lock_guard lock(mutex);
    callers.erase(std::find(callers.begin(), callers.end(), std::this_thread::get_id()));
    if (callers.empty()) idle.notify_all();
  }

  // Stops further calls; outside a callback, also waits for the calls under way.
  void retire() {
    std::unique_lock lock(mutex);
    removed = true;
    if (callbackDepth > 0) return;
    idle.wait(lock, [this] { return callers.empty(); });
  }

  const std::uint64_t token;
  const std::optional<std::string> name;
  const std::shared_ptr<DispatchQueue> queue;
  const Observer observer;

  std::mutex mutex;
  std::condition_variable idle;
  bool removed = false;                  // guarded by mutex
  std::vector<std::thread::id> callers;  // guarded by mutex: threads inside observer now
};

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: observers may post from threads that outlive static destruction.
  static auto* center = new NotificationCenter();
  return *center;
}

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::ObserverToken NotificationCenter::addObserver(std::optional<std::string> name,
                                                                  std::shared_ptr<DispatchQueue> queue,
                                                                  Observer observer) {
  std::lock_guard lock(_mutex);
  auto token = _nextToken++;
  if (observer) {
    _registrations.push_back(
        std::make_shared<Registration>(token, std::move(name), std::move(queue), std::move(observer)));
  }
  return ObserverToken{token};
}

void NotificationCenter::removeObserver(ObserverToken token) {
  std::shared_ptr<Registration> registration;
  {
    std::lock_guard lock(_mutex);
    auto found = std::find_if(_registrations.begin(), _registrations.end(),
                              [&](const auto& candidate) { return candidate->token == token.value; });
    if (found == _registrations.end()) return;
    registration = std::move(*found);
    _registrations.erase(found);
  }
  registration->retire();
}

void NotificationCenter::post(Notification notification) {
  std::vector<std::shared_ptr<Registration>> targets;
  {
    std::lock_guard lock(_mutex);
    for (const auto& registration : _registrations) {
      if (registration->matches(notification.name)) targets.push_back(registration);
    }
  }
  if (targets.empty()) return;
  auto shared = std::make_shared<const Notification>(std::move(notification));
  for (auto& registration : targets) {
    if (registration->queue) {
      registration->queue->async([registration, shared] { registration->deliver(*shared); });
    } else {
      registration->deliver(*shared);
    }
  }
}

std::size_t NotificationCenter::observerCount() const {
  std::lock_guard lock(_mutex);
  return _registrations.size();
}

}  // namespace vantelkit::platform

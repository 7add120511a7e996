// An ordered list of weak references: it keeps its objects' positions without keeping the
// objects alive. Entries whose objects were released read as empty until a removal compacts
// the list. Used for listener and owner lists that must not own what they list.
// Thread safety: none; one thread at a time per instance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace vantelkit {

template <class T>
class WeakArray {
 public:
  WeakArray() = default;
  // Holds each object in order; a null entry holds an empty slot.
  explicit WeakArray(const std::vector<std::shared_ptr<T>>& objects) {
    for (const auto& object : objects) append(object);
  }

  void append(const std::shared_ptr<T>& object) {
    _pointers.emplace_back(object);
    ++_version;
  }

  // The object at index, or null when index is not below count() or the object was released.
  std::shared_ptr<T> get(std::size_t index) const {
    if (index >= _pointers.size()) return nullptr;
    return _pointers[index].lock();
  }

  // The objects still alive, in order.
  std::vector<std::shared_ptr<T>> getAll() const {
    std::vector<std::shared_ptr<T>> objects;
    objects.reserve(_pointers.size());
    for (const auto& pointer : _pointers) {
      if (auto object = pointer.lock()) objects.push_back(std::move(object));
    }
    return objects;
  }

  // Removes the entry at index if index is below count(), then drops released entries.
  void remove(std::size_t index) {
    if (index >= _pointers.size()) return;
    _pointers.erase(_pointers.begin() + static_cast<std::ptrdiff_t>(index));
    ++_version;
    compact();
  }

  // Removes the entries of the half-open range [lower, upper), compacting after each removal,
  // as remove() does: once earlier removals have compacted away released entries, the later
  // removals take the entries that moved into position lower. An empty or reversed range
  // does nothing.
  void removeSubrange(std::size_t lower, std::size_t upper) {
    if (lower >= upper) return;
    for (std::size_t i = lower; i < upper; ++i) {
      if (lower < _pointers.size()) remove(lower);
    }
  }

  // Calls body with each object still alive, in order. The body may change the array: the
  // walk covers the entries present when it began, skips those removed or released since,
  // and never skips an entry because an earlier one was removed. Each object is kept alive
  // while body runs.
  template <class Body>
  void forEach(Body&& body) const {
    const std::vector<std::weak_ptr<T>> entries = _pointers;
    const std::uint64_t version = _version;
    for (const auto& entry : entries) {
      auto object = entry.lock();
      if (!object) continue;
      if (_version != version && !contains(object)) continue;
      body(object);
    }
  }

  // The number of entries, released ones included.
  std::size_t count() const { return _pointers.size(); }

  // Drops the entries whose objects were released.
  void compact() {
    if (std::erase_if(_pointers, [](const std::weak_ptr<T>& pointer) { return pointer.expired(); }) > 0) {
      ++_version;
    }
  }

 private:
  bool contains(const std::shared_ptr<T>& object) const {
    for (const auto& pointer : _pointers) {
      if (pointer.lock() == object) return true;
    }
    return false;
  }

  std::vector<std::weak_ptr<T>> _pointers;
  // Counts changes, so that forEach knows when to check that an entry is still present.
  std::uint64_t _version = 0;
};

}  // namespace vantelkit

// A weak reference to one object, for places that must refer to an object without keeping
// it alive (associated values, lists of owners). Reads back none once the object is gone.
// Thread safety: the container never changes after construction; object() is safe from any
// thread.
#pragma once

#include <memory>
#include <utility>

namespace vantelkit {

template <class T>
class WeakObjectContainer {
 public:
  // There is deliberately no container without an object argument; pass null for none.
  explicit WeakObjectContainer(const std::shared_ptr<T>& with) : _object(with) {}

  // The object, or null when it was released or none was given.
  std::shared_ptr<T> object() const { return _object.lock(); }

 private:
  std::weak_ptr<T> _object;
};

}  // namespace vantelkit

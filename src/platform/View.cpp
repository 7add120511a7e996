#include "vantelkit/platform/View.h"

#include <algorithm>
#include <mutex>

namespace vantelkit {

void View::addSubview(const std::shared_ptr<View>& subview) {
  if (!subview || subview.get() == this) return;
  subview->removeFromSuperview();
  subview->_superview = weak_from_this();
  _subviews.push_back(subview);
}

void View::removeFromSuperview() {
  auto superview = _superview.lock();
  _superview.reset();
  if (!superview) return;
  auto& siblings = superview->_subviews;
  auto self = std::find_if(siblings.begin(), siblings.end(), [this](const auto& view) { return view.get() == this; });
  if (self == siblings.end()) return;
  // The superview's reference may be the last one: keep this view alive until the erase is done.
  auto keepAlive = *self;
  siblings.erase(self);
}

namespace {
std::mutex factoryMutex;
ProgressIndicator::Factory& installedFactory() {
  static ProgressIndicator::Factory factory;  // guarded by factoryMutex
  return factory;
}
}  // namespace

std::shared_ptr<ProgressIndicator> ProgressIndicator::make(Rect frame) {
  Factory factory;
  {
    std::lock_guard lock(factoryMutex);
    factory = installedFactory();
  }
  if (factory) {
    if (auto indicator = factory(frame)) return indicator;
  }
  return std::make_shared<ProgressIndicator>(frame);
}

void ProgressIndicator::setFactory(Factory factory) {
  std::lock_guard lock(factoryMutex);
  installedFactory() = std::move(factory);
}

}  // namespace vantelkit

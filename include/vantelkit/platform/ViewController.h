// The stand-in for a platform view controller: the host subclasses it for its screens, and the
// library passes view controllers through to the host's presentation performer untouched.
// Thread safety: main queue only.
#pragma once

#include <memory>
#include <string>

#include "vantelkit/platform/ObjectAttachments.h"

namespace vantelkit {

class ViewController : public PlatformObject, public std::enable_shared_from_this<ViewController> {
 public:
  ViewController() = default;
  explicit ViewController(std::string title) : _title(std::move(title)) {}

  const std::string& title() const { return _title; }
  void setTitle(std::string title) { _title = std::move(title); }

 private:
  std::string _title;
};

}  // namespace vantelkit

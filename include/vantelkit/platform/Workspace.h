// What the desktop knows about files: the description of a file's type and its icon.
// The default instance asks the platform (content types of the shared MIME database);
// tests may install their own.
// Thread safety: every member is safe to call from any thread; install a replacement
// before concurrent use.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "vantelkit/platform/Image.h"

namespace vantelkit::platform {

class Workspace {
 public:
  virtual ~Workspace() = default;

  // The shared instance (the platform's unless replaced).
  static Workspace& shared();
  // Replaces the shared instance; null restores the platform's.
  static void setShared(std::shared_ptr<Workspace> workspace);

  // The human description of the type of the item at path ("Plain text document"), the
  // link followed; the empty text when the item cannot be read.
  virtual std::string localizedTypeDescription(std::string_view path) = 0;
  // The icon of the item at path: the theme icon of its content type; for a missing item,
  // the icon its name suggests. Never empty.
  virtual Image iconForFile(std::string_view path) = 0;
  // The name of the item at path as the desktop shows it; by default its last component.
  virtual std::string localizedName(std::string_view path);
};

}  // namespace vantelkit::platform

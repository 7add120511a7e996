// Images made by procedures, so that they load off the main thread, can be cancelled and are
// never loaded twice for the same view: the image procedure family, the entities that make
// them, and the procedure that gathers a wall of application icons.
// Thread safety: as GroupProcedure; GeneratorImageEntity is a value type whose generator is
// called on the caller's thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/platform/Geometry.h"
#include "vantelkit/platform/Image.h"
#include "vantelkit/platform/ObjectAttachments.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

// Every image source is a subclass or an instance of this group. Its attachments carry the
// loader's tags.
class ImageProcedure : public GroupProcedure, public OutputProcedure<platform::Image>, public PlatformObject {
 public:
  explicit ImageProcedure(std::shared_ptr<DispatchQueue> dispatchQueue = nullptr,
                          std::vector<std::shared_ptr<Operation>> operations = {})
      : GroupProcedure(std::move(dispatchQueue), std::move(operations)) {}

  // Kept for subclasses and callers; the procedure itself does not read it.
  bool cached() const { return _cached.load(); }
  void setCached(bool cached) { _cached.store(cached); }

 private:
  std::atomic<bool> _cached{false};
};

// The icon of a file at the standard sizes (see iconWithSizes): an application's own
// pictures, the sizes it lacks scaled from them; the generic application icon's theme
// pixels for an application without an icon; otherwise the workspace's icon of its type
// with the theme's pixels.
class IconImageProcedure : public ImageProcedure {
 public:
  explicit IconImageProcedure(FileURL url);
  const FileURL& url() const { return _url; }

 private:
  const FileURL _url;
};

class ImageEntity {
 public:
  virtual ~ImageEntity() = default;
  // Equal identifiers mean the same image.
  virtual std::string identifier() const = 0;
  // A new procedure that makes the image at size (none: the source's own size), or null.
  virtual std::shared_ptr<ImageProcedure> imageProcedure(std::optional<Size> size) const = 0;
};

struct GeneratorImageEntity : ImageEntity {
  using Generator = std::function<std::shared_ptr<ImageProcedure>(std::optional<Size>)>;

  GeneratorImageEntity(std::string identifier, Generator generator)
      : identifierValue(std::move(identifier)), generator(std::move(generator)) {}

  std::string identifier() const override { return identifierValue; }
  std::shared_ptr<ImageProcedure> imageProcedure(std::optional<Size> size) const override {
    return generator ? generator(size) : nullptr;
  }

  std::string identifierValue;
  Generator generator;
};

// The icons of the installed applications for an icon wall: up to 70 from "/Applications"
// (two folder levels), filled up from "/System/Applications" (one level) when there are
// fewer, each at 512 points. The output is the list in that order.
class ApplicationIconsScanProcedure : public GroupProcedure, public OutputProcedure<std::vector<platform::Image>> {
 public:
  // How many icons the wall shows at most.
  static constexpr std::size_t wallSize = 70;
  static constexpr int iconPointSize = 512;

  ApplicationIconsScanProcedure();
};

}  // namespace vantelkit

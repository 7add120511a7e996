// Binds image procedures to image views: shows a placeholder, runs the entity's procedure on
// the loader's queue, and puts the image into the view when it comes, unless the view has
// been reused for another entity meanwhile. The view and the procedure carry the entity's
// identifier as a tag; procedures can be cancelled by identifier.
// Thread safety: load() and the image views are main queue only; isLoading, the
// cancellations and SizeStrategy::size are safe from any thread. The placeholder spinner and
// both finish observers run on the main queue.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <variant>

#include "vantelkit/applications/ImageProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/View.h"

namespace vantelkit {

class ImageLoader {
 public:
  class SizeStrategy {
   public:
    static SizeStrategy custom(Size size) { return SizeStrategy(size); }
    static SizeStrategy imageView() { return SizeStrategy(Kind::imageView); }
    static SizeStrategy original() { return SizeStrategy(Kind::original); }

    // custom: its size; imageView: the view's frame size; original: none (the source's own).
    std::optional<Size> size(const ImageView& view) const;
    bool operator==(const SizeStrategy&) const = default;

   private:
    enum class Kind { custom, imageView, original };
    explicit SizeStrategy(Size size) : _kind(Kind::custom), _size(size) {}
    explicit SizeStrategy(Kind kind) : _kind(kind) {}
    Kind _kind;
    Size _size;
  };

  class Placeholder {
   public:
    static Placeholder image(platform::Image image) { return Placeholder(std::move(image)); }
    static Placeholder indicator() { return Placeholder(Kind::indicator); }
    static Placeholder none() { return Placeholder(Kind::none); }

    bool isIndicator() const { return _kind == Kind::indicator; }
    // The placeholder image of the image case, else null.
    const platform::Image* placeholderImage() const { return _image ? &*_image : nullptr; }

   private:
    enum class Kind { image, indicator, none };
    explicit Placeholder(platform::Image image) : _kind(Kind::image), _image(std::move(image)) {}
    explicit Placeholder(Kind kind) : _kind(kind) {}
    Kind _kind;
    std::optional<platform::Image> _image;
  };

  using FailureHandler = std::function<void(const ErrorPtr&)>;
  using ImageHandler = std::function<void(const platform::Image&)>;
  using FinallyHandler = std::function<void()>;

  // The tag keys kept on image views and procedures.
  static const AttachmentKey& identifierKey();
  static const AttachmentKey& indicatorKey();
  // The identifier tag of an object's attachments, or none.
  static std::optional<std::string> identifierTag(const PlatformObject& object);

  ImageLoader();
  ImageLoader(const ImageLoader&) = delete;
  ImageLoader& operator=(const ImageLoader&) = delete;

  // Loads entity's image into view (see the class comment). Nothing happens when the same
  // entity is already loading into this view, or when the entity makes no procedure (then
  // there is no placeholder and no callback either). When the image comes and the view still
  // shows entity, the view gets it and onImageLoaded is called; when there is none (failure,
  // cancellation), onImageLoadFailed is called with the procedure's error; finally comes last.
  void load(const ImageEntity& entity, const std::shared_ptr<ImageView>& view, SizeStrategy sizedTo,
            Placeholder placeholder, FailureHandler onImageLoadFailed = nullptr, ImageHandler onImageLoaded = nullptr,
            FinallyHandler finally = nullptr);
  // True when view's identifier tag is entity's identifier and a procedure tagged with it is
  // on the queue.
  bool isLoading(const ImageEntity& entity, const ImageView& view) const;
  // Cancels every procedure on the queue tagged with entity's identifier.
  void cancelOperations(const ImageEntity& entity);
  void cancelAllOperations();

 private:
  ProcedureQueue _queue;
};

}  // namespace vantelkit

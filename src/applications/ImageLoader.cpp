#include "vantelkit/applications/ImageLoader.h"

#include "vantelkit/foundation/ProcedureHelpers.h"

namespace vantelkit {

namespace {

struct IdentifierTag final : Attachment {
  explicit IdentifierTag(std::string identifier) : identifier(std::move(identifier)) {}
  const std::string identifier;
};

// Not retained: the view hierarchy owns the spinner.
struct IndicatorTag final : Attachment {
  explicit IndicatorTag(std::weak_ptr<ProgressIndicator> indicator) : indicator(std::move(indicator)) {}
  const std::weak_ptr<ProgressIndicator> indicator;
};

void setIdentifierTag(const PlatformObject& object, const std::string& identifier) {
  object.attachments().set(ImageLoader::identifierKey(), std::make_shared<IdentifierTag>(identifier));
}

void removeIndicator(const std::shared_ptr<ProgressIndicator>& indicator) {
  if (!indicator) return;
  indicator->stopAnimation();
  indicator->removeFromSuperview();
}

}  // namespace

const AttachmentKey& ImageLoader::identifierKey() {
  static const AttachmentKey key;
  return key;
}

const AttachmentKey& ImageLoader::indicatorKey() {
  static const AttachmentKey key;
  return key;
}

std::optional<std::string> ImageLoader::identifierTag(const PlatformObject& object) {
  auto tag = std::dynamic_pointer_cast<IdentifierTag>(object.attachments().get(identifierKey()));
  if (!tag) return std::nullopt;
  return tag->identifier;
}

std::optional<Size> ImageLoader::SizeStrategy::size(const ImageView& view) const {
  switch (_kind) {
    case Kind::custom:
      return _size;
    case Kind::imageView:
      return view.frame().size;
    case Kind::original:
      return std::nullopt;
  }
  return std::nullopt;
}

ImageLoader::ImageLoader() : _queue("ImageLoader") {}

void ImageLoader::load(const ImageEntity& entity, const std::shared_ptr<ImageView>& view, SizeStrategy sizedTo,
                       Placeholder placeholder, FailureHandler onImageLoadFailed, ImageHandler onImageLoaded,
                       FinallyHandler finally) {
  if (!view || isLoading(entity, *view)) return;
  auto procedure = entity.imageProcedure(sizedTo.size(*view));
  if (!procedure) return;
  const std::string identifier = entity.identifier();
  setIdentifierTag(*view, identifier);
  setIdentifierTag(*procedure, identifier);
  std::weak_ptr<ImageView> weakView = view;

  procedure->addObserver(std::make_shared<MainQueueFinishObserver<ImageProcedure>>(
      [weakView, identifier, onImageLoadFailed, onImageLoaded, finally](const std::shared_ptr<ImageProcedure>& done,
                                                                        const ErrorPtr&) {
        auto view = weakView.lock();
        if (!view || identifierTag(*view) != identifier) return;  // the view shows another entity now
        if (auto image = done->successValue()) {
          view->setImage(*image);
          if (onImageLoaded) onImageLoaded(*image);
        } else if (onImageLoadFailed) {
          onImageLoadFailed(done->error());
        }
        if (finally) finally();
      }));

  // This load's own spinner, made on the main queue before any finish observer runs there.
  auto ownIndicator = std::make_shared<std::weak_ptr<ProgressIndicator>>();
  if (placeholder.isIndicator()) {
    DispatchQueue::main()->async([weakView, ownIndicator] {
      auto view = weakView.lock();
      if (!view) return;
      auto indicator = ProgressIndicator::make(view->bounds());
      indicator->setStyle(ProgressIndicator::Style::spinning);
      indicator->setAutoresizingMask(View::widthSizable | View::heightSizable);
      // A spinner of an earlier load into this view must not stay behind the new one.
      if (auto previous = std::dynamic_pointer_cast<IndicatorTag>(view->attachments().get(indicatorKey()))) {
        removeIndicator(previous->indicator.lock());
      }
      view->addSubview(indicator);
      view->attachments().set(indicatorKey(), std::make_shared<IndicatorTag>(indicator));
      *ownIndicator = indicator;
      indicator->startAnimation();
    });
  } else if (const platform::Image* image = placeholder.placeholderImage()) {
    view->setImage(*image);
  }

  procedure->addObserver(std::make_shared<MainQueueFinishObserver<ImageProcedure>>(
      [weakView, identifier, ownIndicator](const std::shared_ptr<ImageProcedure>&, const ErrorPtr&) {
        auto view = weakView.lock();
        if (view && identifierTag(*view) == identifier) {
          if (auto tag = std::dynamic_pointer_cast<IndicatorTag>(view->attachments().get(indicatorKey()))) {
            removeIndicator(tag->indicator.lock());
          }
        }
        // The spinner this load put up goes in any case: a reused view keeps only its own.
        removeIndicator(ownIndicator->lock());
      }));
  _queue.addOperation(procedure);
}

bool ImageLoader::isLoading(const ImageEntity& entity, const ImageView& view) const {
  const std::string identifier = entity.identifier();
  if (identifierTag(view) != identifier) return false;
  for (const auto& operation : _queue.operations()) {
    auto procedure = std::dynamic_pointer_cast<ImageProcedure>(operation);
    if (procedure && identifierTag(*procedure) == identifier) return true;
  }
  return false;
}

void ImageLoader::cancelOperations(const ImageEntity& entity) {
  const std::string identifier = entity.identifier();
  for (const auto& operation : _queue.operations()) {
    auto procedure = std::dynamic_pointer_cast<ImageProcedure>(operation);
    if (procedure && identifierTag(*procedure) == identifier) procedure->cancel();
  }
}

void ImageLoader::cancelAllOperations() { _queue.cancelAllOperations(); }

}  // namespace vantelkit

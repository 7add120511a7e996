// The stand-ins for the platform's views that the image loader touches: a view with a frame
// and subviews, an image view and a spinning progress indicator. The host subclasses them (or
// observes them) to show the real thing; the base classes keep the state.
// Thread safety: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "vantelkit/platform/Geometry.h"
#include "vantelkit/platform/Image.h"
#include "vantelkit/platform/ObjectAttachments.h"

namespace vantelkit {

class View : public PlatformObject, public std::enable_shared_from_this<View> {
 public:
  // Resizing rules, as the platform's mask bits.
  enum AutoresizingMask : unsigned { widthSizable = 0x2, heightSizable = 0x10 };

  View() = default;
  explicit View(Rect frame) : _frame(frame) {}

  Rect frame() const { return _frame; }
  virtual void setFrame(Rect frame) { _frame = frame; }
  // The frame's size at the origin.
  Rect bounds() const { return {{0, 0}, _frame.size}; }
  unsigned autoresizingMask() const { return _autoresizingMask; }
  void setAutoresizingMask(unsigned mask) { _autoresizingMask = mask; }

  const std::vector<std::shared_ptr<View>>& subviews() const { return _subviews; }
  // The view that holds this one, or null.
  std::shared_ptr<View> superview() const { return _superview.lock(); }
  // Adds subview on top, taking it from its previous superview first.
  virtual void addSubview(const std::shared_ptr<View>& subview);
  // Takes this view out of its superview; the superview's reference was the owning one.
  virtual void removeFromSuperview();

 private:
  Rect _frame;
  unsigned _autoresizingMask = 0;
  std::vector<std::shared_ptr<View>> _subviews;
  std::weak_ptr<View> _superview;
};

class ImageView : public View {
 public:
  using View::View;
  const std::optional<platform::Image>& image() const { return _image; }
  virtual void setImage(std::optional<platform::Image> image) { _image = std::move(image); }

 private:
  std::optional<platform::Image> _image;
};

class ProgressIndicator : public View {
 public:
  enum class Style { bar = 0, spinning = 1 };
  using Factory = std::function<std::shared_ptr<ProgressIndicator>(Rect frame)>;

  using View::View;
  // A new indicator from the installed factory (a plain ProgressIndicator by default).
  static std::shared_ptr<ProgressIndicator> make(Rect frame);
  // Installs the host's factory; an empty one restores the default.
  static void setFactory(Factory factory);

  Style style() const { return _style; }
  virtual void setStyle(Style style) { _style = style; }
  bool isAnimating() const { return _animating; }
  virtual void startAnimation() { _animating = true; }
  virtual void stopAnimation() { _animating = false; }

 private:
  Style _style = Style::bar;
  bool _animating = false;
};

}  // namespace vantelkit

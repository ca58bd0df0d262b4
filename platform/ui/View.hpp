// View: a rectangle of the interface with a backing layer, subviews and layout: frames,
// autoresizing, anchor constraints resolved by the layout pass, and a snapshot to pixels.
//
// Geometry and appearance (frame, bounds, center, transform, alpha, hidden, background
// colour, clipping) live on the backing layer, so a view and its layer never disagree; the
// layer tree is what snapshots draw. Subviews' layers are sublayers of this view's layer in
// the same order, and further layers may be added beside them (the player layer).
//
// Layout: a change of size autoresizes the subviews at once (by their masks) and marks the
// view as needing layout and a constraint update. layoutIfNeeded() then runs, for this view
// and its subtree, updateConstraints() where needed and layoutSubviews() where needed; the
// base layoutSubviews() resolves the active constraints of the subviews (LayoutSolver). A
// view in a window is also laid out once per main-queue turn after it asks for layout.
//
// Making views: make(frame), or make(coder) which gives null when the archive does not
// decode. A subclass that takes weak references to itself while being set up is made first
// and set up after, in its own make().
//
// Views are key-value observable; changes are announced on the thread that makes them.
//
// Thread-safety: every operation is safe from any thread (state guarded by UILock), but
// interface changes belong on the main thread: changes made elsewhere are counted by
// UIThreadChecker. Overrides (layoutSubviews, updateConstraints) run on the thread that
// runs the layout pass, with no lock held.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Color.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/Rect.hpp"
#include "platform/media/AffineTransform.hpp"
#include "platform/media/Image.hpp"
#include "platform/ui/Coder.hpp"
#include "platform/ui/Layer.hpp"
#include "platform/ui/LayoutAnchor.hpp"
#include "platform/ui/LayoutConstraint.hpp"

namespace pindle::platform::ui {

class View;
class Window;
class GestureRecognizer;
struct Touch;
using ViewPtr = std::shared_ptr<View>;

class View : public KeyValueObservable {
  public:
    // Bits of autoresizingMask: which margins and sizes stretch with the superview.
    enum AutoresizingMask : unsigned {
        none = 0,
        flexibleLeftMargin = 1,
        flexibleWidth = 2,
        flexibleRightMargin = 4,
        flexibleTopMargin = 8,
        flexibleHeight = 16,
        flexibleBottomMargin = 32,
    };
    enum class ContentMode {
        scaleToFill = 0,
        scaleAspectFit = 1,
        scaleAspectFill = 2,
        redraw = 3,
        center = 4,
        topLeft = 9,
    };
    // Observable keys: "frame" (a rectangle as Coder::encodeRect gives it), "hidden",
    // "alpha". Subclasses add their own and fall back to this.
    Value valueForKey(std::string_view key) const override;

    // Bits of View::animate's options: what the caller asked for is recorded
    // (lastAnimationOptions); the curve picks the timing of the recorded animations.
    struct AnimationOptions {
        static constexpr unsigned layoutSubviews = 1u << 0;
        static constexpr unsigned allowUserInteraction = 1u << 1;
        static constexpr unsigned beginFromCurrentState = 1u << 2;
        static constexpr unsigned curveEaseInOut = 0u << 16;
        static constexpr unsigned curveEaseIn = 1u << 16;
        static constexpr unsigned curveEaseOut = 2u << 16;
        static constexpr unsigned curveLinear = 3u << 16;
        static constexpr unsigned curveMask = 3u << 16;
    };

    // Runs `animations` at once: the model values it sets are final when this returns, and
    // each animatable change (frame, bounds, centre, alpha, transform, background colour) runs
    // as an animation of the view's layer over `duration` after `delay`, on Clock. The
    // completion runs once on the main queue: with true after delay + duration, with false
    // as soon as one of the animations is removed (Layer::removeAllAnimations) or replaced
    // by a later animation of the same property. See ViewAnimation.
    static void animate(double duration, double delay, unsigned options,
                        const std::function<void()>& animations,
                        std::function<void(bool finished)> completion = {});
    static void animate(double duration, const std::function<void()>& animations,
                        std::function<void(bool finished)> completion = {});
    // The options of the last animate call of the process.
    static unsigned lastAnimationOptions();

    // intrinsicContentSize() component meaning "no natural size on this axis".
    static constexpr double noIntrinsicMetric = -1;

    static ViewPtr make(const Rect& frame = Rect::zero());
    // Null when the archive's values do not decode (see decode()).
    static ViewPtr make(const Coder& coder);

    explicit View(const Rect& frame, LayerPtr layer = nullptr);
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    const LayerPtr& layer() const { return layer_; }

    Rect frame() const;
    void setFrame(const Rect& frame);
    Rect bounds() const;
    void setBounds(const Rect& bounds);
    Point center() const;
    void setCenter(Point center);
    AffineTransform transform() const;
    void setTransform(const AffineTransform& transform);

    double alpha() const;
    void setAlpha(double alpha);
    bool isHidden() const;
    void setHidden(bool hidden);
    Color backgroundColor() const;
    void setBackgroundColor(Color colour);
    bool clipsToBounds() const;
    void setClipsToBounds(bool clips);
    ContentMode contentMode() const;
    virtual void setContentMode(ContentMode mode);
    int tag() const;
    void setTag(int tag);
    bool isUserInteractionEnabled() const;
    void setUserInteractionEnabled(bool enabled);

    ViewPtr superview() const;
    std::vector<ViewPtr> subviews() const;
    // The window at the root of this view's tree, if the root is one.
    std::shared_ptr<Window> window() const;
    bool isDescendant(const View& ancestor) const;
    void addSubview(const ViewPtr& view);
    void insertSubview(const ViewPtr& view, std::size_t index);
    void removeFromSuperview();
    void bringSubviewToFront(const ViewPtr& view);
    void sendSubviewToBack(const ViewPtr& view);

    unsigned autoresizingMask() const;
    void setAutoresizingMask(unsigned mask);
    bool autoresizesSubviews() const;
    void setAutoresizesSubviews(bool autoresizes);
    bool translatesAutoresizingMaskIntoConstraints() const;
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates);

    void setNeedsLayout();
    bool needsLayout() const;
    void layoutIfNeeded();
    void setNeedsUpdateConstraints();
    // The natural size of the content; noIntrinsicMetric on an axis without one.
    virtual Size intrinsicContentSize() const;

    // The constraints installed on this view (by addConstraint or by activation).
    std::vector<LayoutConstraintPtr> constraints() const;
    void addConstraint(const LayoutConstraintPtr& constraint);
    void addConstraints(const std::vector<LayoutConstraintPtr>& constraints);
    void removeConstraint(const LayoutConstraintPtr& constraint);

    LayoutAnchor topAnchor() { return anchor(LayoutAttribute::top); }
    LayoutAnchor bottomAnchor() { return anchor(LayoutAttribute::bottom); }
    LayoutAnchor leadingAnchor() { return anchor(LayoutAttribute::leading); }
    LayoutAnchor trailingAnchor() { return anchor(LayoutAttribute::trailing); }
    LayoutAnchor leftAnchor() { return anchor(LayoutAttribute::left); }
    LayoutAnchor rightAnchor() { return anchor(LayoutAttribute::right); }
    LayoutAnchor centerXAnchor() { return anchor(LayoutAttribute::centerX); }
    LayoutAnchor centerYAnchor() { return anchor(LayoutAttribute::centerY); }
    LayoutAnchor widthAnchor() { return anchor(LayoutAttribute::width); }
    LayoutAnchor heightAnchor() { return anchor(LayoutAttribute::height); }

    // Converts between this view's coordinates and another view's in the same tree (null:
    // the tree's root). Transforms are not applied.
    Point convertPointTo(Point point, const View* view) const;
    Point convertPointFrom(Point point, const View* view) const;
    Rect convertRectTo(const Rect& rect, const View* view) const;
    Rect convertRectFrom(const Rect& rect, const View* view) const;

    // The deepest visible, interaction-enabled view under `point` (in this view's
    // coordinates), this view included; null when the point is outside or the view takes no
    // touches.
    virtual ViewPtr hitTest(Point point);
    void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
    void removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
    std::vector<std::shared_ptr<GestureRecognizer>> gestureRecognizers() const;

    // Touches the window delivers to the view it hit (see Window::sendEvent).
    virtual void touchesBegan(const Touch&) {}
    virtual void touchesMoved(const Touch&) {}
    virtual void touchesEnded(const Touch&) {}
    virtual void touchesCancelled(const Touch&) {}

    // A picture of this view and its subtree at `scale` pixels per point, after a layout
    // pass. It draws background colours, images, video frames, text, opacity and clipping.
    // Null for an empty view.
    // REQUIRES: called on the main thread.
    ImagePtr snapshotImage(double scale = 1.0);

    // The first responder: the one view of the process that takes typed text. Only views
    // that can take text (canBecomeFirstResponder) become it; becoming it makes the previous
    // one resign. Application::endEditing() makes it resign.
    virtual bool canBecomeFirstResponder() const { return false; }
    // False, and nothing changed, for a view that cannot take text.
    bool becomeFirstResponder();
    // False when this view was not the first responder.
    bool resignFirstResponder();
    bool isFirstResponder() const;
    static ViewPtr currentFirstResponder();

  protected:
    // Resolves the constraints of the subviews. Overrides call the base first.
    virtual void layoutSubviews();
    // Updates this view's constraints; runs in the layout pass when requested (and after a
    // change of size). Overrides call the base.
    virtual void updateConstraints() {}
    // Called after the view is added to or removed from a superview.
    virtual void didMoveToSuperview() {}
    // Reads "frame", "hidden", "alpha", "tag" and "userInteractionEnabled" from `coder`;
    // false when one of them is present but not of its type. Subclass make(coder) functions
    // call it.
    bool decode(const Coder& coder);

  private:
    friend class LayoutSolver;
    friend class LayoutConstraint;
    friend class Window;

    LayoutAnchor anchor(LayoutAttribute attribute);
    // Records an animation of `key` from `from` when a View::animate block is running.
    void recordAnimation(const char* key, Value from);
    void sizeChanged(Size oldSize, Size newSize);
    void autoresizeSubviews(Size oldSize, Size newSize);
    void insertSubviewLocked(const ViewPtr& view, std::size_t index);
    void updateConstraintsPass();
    void layoutPass();
    // The window to tell about pending layout, if any.
    void requestWindowLayout();
    void installConstraint(const LayoutConstraintPtr& constraint);
    void uninstallConstraint(const LayoutConstraint* constraint);

    const LayerPtr layer_;
    // All guarded by UILock.
    std::weak_ptr<View> superview_;
    std::vector<ViewPtr> subviews_;
    std::vector<LayoutConstraintPtr> constraints_;
    std::vector<std::shared_ptr<GestureRecognizer>> gestureRecognizers_;
    ContentMode contentMode_ = ContentMode::scaleToFill;
    int tag_ = 0;
    bool userInteractionEnabled_ = true;
    unsigned autoresizingMask_ = none;
    bool autoresizesSubviews_ = true;
    bool translatesAutoresizingMask_ = true;
    bool needsLayout_ = true;
    bool needsUpdateConstraints_ = true;
};

}  // namespace pindle::platform::ui

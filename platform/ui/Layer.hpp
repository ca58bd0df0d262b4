// Layer: a rectangle of the interface that draws a background colour and contents, holds
// sublayers and runs animations. Every view is backed by one; other layers (the player layer)
// are added as sublayers. Snapshots (View::snapshotImage) are rendered from the layer tree.
//
// Geometry: `bounds` gives the size (and the origin of the layer's own coordinates),
// `position` the centre in the superlayer's coordinates; `frame` is derived from both. The
// transform (scale and translate only) applies around the centre when rendering and does
// not change `frame`.
//
// Animations run on Clock: add() starts one now, its `didStop` runs on the main queue with
// true after the duration, or with false on the next main-queue turn when it is removed or
// replaced. Model values never change by animating; presentationValue() interpolates.
//
// Layers are key-value observable (subclasses announce their own keys, such as the player
// layer's "readyForDisplay"), on the thread that makes the change.
//
// Thread-safety: all operations are safe from any thread; state is guarded by UILock.
// Changes made off the main thread are counted by UIThreadChecker. Rendering reads a
// consistent copy of each layer.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Color.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/Rect.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/media/AffineTransform.hpp"
#include "platform/media/GraphicsContext.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/VideoFrame.hpp"
#include "platform/ui/BasicAnimation.hpp"

namespace pindle::platform::ui {

class Layer;
using LayerPtr = std::shared_ptr<Layer>;

// How contents are fitted into the bounds.
enum class ContentsGravity { resize, resizeAspect, resizeAspectFill, center, topLeft };

class Layer : public KeyValueObservable {
  public:
    static LayerPtr make();
    Layer() = default;
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    Rect frame() const;
    void setFrame(const Rect& frame);
    Rect bounds() const;
    // Keeps the position: the layer grows or shrinks around its centre.
    void setBounds(const Rect& bounds);
    Point position() const;
    void setPosition(Point position);
    AffineTransform transform() const;
    void setTransform(const AffineTransform& transform);

    double opacity() const;
    void setOpacity(double opacity);
    bool isHidden() const;
    void setHidden(bool hidden);
    Color backgroundColor() const;
    void setBackgroundColor(Color colour);
    ImagePtr contents() const;
    void setContents(ImagePtr image);
    ContentsGravity contentsGravity() const;
    void setContentsGravity(ContentsGravity gravity);
    bool masksToBounds() const;
    void setMasksToBounds(bool masks);
    // A mask layer: only where it is drawn (by its alpha) does this layer show.
    LayerPtr mask() const;
    void setMask(LayerPtr mask);

    LayerPtr superlayer() const;
    std::vector<LayerPtr> sublayers() const;
    // Appends `layer` (topmost), first taking it out of its old superlayer.
    void addSublayer(const LayerPtr& layer);
    // Inserts at `index` (clamped to the count).
    void insertSublayer(const LayerPtr& layer, std::size_t index);
    void insertSublayerBelow(const LayerPtr& layer, const LayerPtr& sibling);
    void removeFromSuperlayer();

    // Runs `animation` under `key`; an animation already under the key is replaced.
    void add(BasicAnimation animation, const std::string& key);
    void removeAnimation(const std::string& key);
    void removeAllAnimations();
    // The keys of the animations still running.
    std::vector<std::string> animationKeys() const;
    std::optional<BasicAnimation> animation(const std::string& key) const;
    // The value shown now for a numeric key ("opacity"): interpolated while an animation of
    // that key runs, else the model value. Other keys give null.
    Value presentationValue(const std::string& key) const;
    // The position as it is on screen now: the model position, or where a running "position"
    // animation (from a point, or a rect's origin, to the model) has the layer. Drawing uses it.
    Point presentationPosition() const;

    // Draws this layer and its sublayers, with the context's origin at the superlayer's
    // bounds origin. Hidden layers and layers of opacity 0 draw nothing. When the context
    // collects video, a layer that draws video and has a frame leaves a hole for the screen
    // to show the picture in, instead of drawing its background and contents.
    void render(GraphicsContext& context) const;

    // What a layer of moving pictures (the player layer, a camera preview) gives the screen
    // for one refresh.
    struct VideoContent {
        VideoFramePtr frame;  // null when there is no picture yet
        GraphicsContext::ContentFit fit = GraphicsContext::ContentFit::aspectFit;
        double frameTime = 0;      // seconds, on the source's own timeline
        double frameDuration = 0;  // seconds; 0 when unknown
    };
    // True for layers whose pictures the screen uploads and draws itself.
    virtual bool drawsVideo() const { return false; }
    // The frame for the refresh at `hostTime` (Clock uptime, seconds). Called on the main
    // thread, once per refresh while the layer is on screen.
    virtual VideoContent videoContent(double /*hostTime*/) const { return {}; }

  protected:
    // Draws the contents into `bounds` (in the layer's own coordinates). By default the
    // `contents` image fitted by `contentsGravity`; the player layer draws its video frame.
    virtual void drawContents(GraphicsContext& context, const Rect& bounds) const;

    static GraphicsContext::ContentFit fitFor(ContentsGravity gravity);

  private:
    struct Running {
        BasicAnimation animation;
        double beginTime = 0;  // Clock uptime, seconds
        std::uint64_t id = 0;
    };

    void removeFromSuperlayerLocked();
    std::vector<std::function<void()>> takeAnimationsLocked(const std::string* key);
    static void stopLater(std::vector<std::function<void()>> stops);
    void finishAnimation(const std::string& key, std::uint64_t id);
    Value modelValueLocked(const std::string& key) const;

    // All guarded by UILock.
    Rect bounds_;
    Point position_;
    AffineTransform transform_;
    double opacity_ = 1.0;
    bool hidden_ = false;
    Color backgroundColor_ = Color::clear();
    ImagePtr contents_;
    ContentsGravity contentsGravity_ = ContentsGravity::resize;
    bool masksToBounds_ = false;
    LayerPtr mask_;
    std::weak_ptr<Layer> superlayer_;
    std::vector<LayerPtr> sublayers_;
    std::map<std::string, Running> animations_;
    std::uint64_t nextAnimationId_ = 1;
};

}  // namespace pindle::platform::ui

#include "platform/ui/Layer.hpp"

#include <algorithm>
#include <chrono>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/UILock.hpp"
#include "platform/ui/UIThreadChecker.hpp"

namespace pindle::platform::ui {
namespace {

double uptimeSeconds() {
    return std::chrono::duration<double>(Clock::current()->uptime()).count();
}

}  // namespace

LayerPtr Layer::make() {
    return std::make_shared<Layer>();
}

Rect Layer::frame() const {
    UIGuard lock(UILock::mutex());
    return Rect::make(position_.x - bounds_.width() / 2, position_.y - bounds_.height() / 2,
                      bounds_.width(), bounds_.height());
}

void Layer::setFrame(const Rect& frame) {
    UIThreadChecker::recordMutation("Layer::setFrame");
    const Rect r = frame.standardized();
    UIGuard lock(UILock::mutex());
    bounds_.size = r.size;
    position_ = r.center();
}

Rect Layer::bounds() const {
    UIGuard lock(UILock::mutex());
    return bounds_;
}

void Layer::setBounds(const Rect& bounds) {
    UIThreadChecker::recordMutation("Layer::setBounds");
    UIGuard lock(UILock::mutex());
    bounds_ = bounds.standardized();
}

Point Layer::position() const {
    UIGuard lock(UILock::mutex());
    return position_;
}

void Layer::setPosition(Point position) {
    UIThreadChecker::recordMutation("Layer::setPosition");
    UIGuard lock(UILock::mutex());
    position_ = position;
}

AffineTransform Layer::transform() const {
    UIGuard lock(UILock::mutex());
    return transform_;
}

void Layer::setTransform(const AffineTransform& transform) {
    UIThreadChecker::recordMutation("Layer::setTransform");
    UIGuard lock(UILock::mutex());
    transform_ = transform;
}

double Layer::opacity() const {
    UIGuard lock(UILock::mutex());
    return opacity_;
}

void Layer::setOpacity(double opacity) {
    UIThreadChecker::recordMutation("Layer::setOpacity");
    UIGuard lock(UILock::mutex());
    opacity_ = std::clamp(opacity, 0.0, 1.0);
}

bool Layer::isHidden() const {
    UIGuard lock(UILock::mutex());
    return hidden_;
}

void Layer::setHidden(bool hidden) {
    UIThreadChecker::recordMutation("Layer::setHidden");
    UIGuard lock(UILock::mutex());
    hidden_ = hidden;
}

Color Layer::backgroundColor() const {
    UIGuard lock(UILock::mutex());
    return backgroundColor_;
}

void Layer::setBackgroundColor(Color colour) {
    UIThreadChecker::recordMutation("Layer::setBackgroundColor");
    UIGuard lock(UILock::mutex());
    backgroundColor_ = colour;
}

ImagePtr Layer::contents() const {
    UIGuard lock(UILock::mutex());
    return contents_;
}

void Layer::setContents(ImagePtr image) {
    UIThreadChecker::recordMutation("Layer::setContents");
    UIGuard lock(UILock::mutex());
    contents_ = std::move(image);
}

ContentsGravity Layer::contentsGravity() const {
    UIGuard lock(UILock::mutex());
    return contentsGravity_;
}

void Layer::setContentsGravity(ContentsGravity gravity) {
    UIThreadChecker::recordMutation("Layer::setContentsGravity");
    UIGuard lock(UILock::mutex());
    contentsGravity_ = gravity;
}

bool Layer::masksToBounds() const {
    UIGuard lock(UILock::mutex());
    return masksToBounds_;
}

void Layer::setMasksToBounds(bool masks) {
    UIThreadChecker::recordMutation("Layer::setMasksToBounds");
    UIGuard lock(UILock::mutex());
    masksToBounds_ = masks;
}

LayerPtr Layer::mask() const {
    UIGuard lock(UILock::mutex());
    return mask_;
}

void Layer::setMask(LayerPtr mask) {
    UIThreadChecker::recordMutation("Layer::setMask");
    UIGuard lock(UILock::mutex());
    mask_ = std::move(mask);
}

LayerPtr Layer::superlayer() const {
    UIGuard lock(UILock::mutex());
    return superlayer_.lock();
}

std::vector<LayerPtr> Layer::sublayers() const {
    UIGuard lock(UILock::mutex());
    return sublayers_;
}

void Layer::addSublayer(const LayerPtr& layer) {
    insertSublayer(layer, static_cast<std::size_t>(-1));
}

void Layer::insertSublayer(const LayerPtr& layer, std::size_t index) {
    if (!layer || layer.get() == this)
        return;
    UIThreadChecker::recordMutation("Layer::insertSublayer");
    UIGuard lock(UILock::mutex());
    layer->removeFromSuperlayerLocked();
    index = std::min(index, sublayers_.size());
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), layer);
    layer->superlayer_ = std::static_pointer_cast<Layer>(shared_from_this());
}

void Layer::insertSublayerBelow(const LayerPtr& layer, const LayerPtr& sibling) {
    UIGuard lock(UILock::mutex());
    std::size_t index = sublayers_.size();
    for (std::size_t i = 0; i < sublayers_.size(); ++i) {
        if (sublayers_[i] == sibling) {
            index = i;
            break;
        }
    }
    // Taking the layer out first may shift the sibling down by one.
    if (layer && layer->superlayer_.lock().get() == this) {
        auto it = std::find(sublayers_.begin(), sublayers_.end(), layer);
        if (it != sublayers_.end() && static_cast<std::size_t>(it - sublayers_.begin()) < index)
            --index;
    }
    insertSublayer(layer, index);
}

void Layer::removeFromSuperlayer() {
    UIThreadChecker::recordMutation("Layer::removeFromSuperlayer");
    UIGuard lock(UILock::mutex());
    removeFromSuperlayerLocked();
}

void Layer::removeFromSuperlayerLocked() {
    LayerPtr parent = superlayer_.lock();
    superlayer_.reset();
    if (!parent)
        return;
    auto& siblings = parent->sublayers_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [this](const LayerPtr& l) { return l.get() == this; }),
                   siblings.end());
}

void Layer::add(BasicAnimation animation, const std::string& key) {
    UIThreadChecker::recordMutation("Layer::add");
    const double duration = std::max(0.0, animation.duration) + std::max(0.0, animation.delay);
    std::vector<std::function<void()>> stops;
    std::uint64_t id = 0;
    {
        UIGuard lock(UILock::mutex());
        stops = takeAnimationsLocked(&key);
        id = nextAnimationId_++;
        animations_[key] = Running{std::move(animation), uptimeSeconds(), id};
    }
    stopLater(std::move(stops));
    DispatchQueue::main()->asyncAfter(
        duration, weakly(this, [key, id](Layer& self) { self.finishAnimation(key, id); }));
}

void Layer::finishAnimation(const std::string& key, std::uint64_t id) {
    std::function<void(bool)> didStop;
    {
        UIGuard lock(UILock::mutex());
        auto it = animations_.find(key);
        if (it == animations_.end() || it->second.id != id)
            return;
        didStop = std::move(it->second.animation.didStop);
        animations_.erase(it);
    }
    if (didStop)
        didStop(true);
}

std::vector<std::function<void()>> Layer::takeAnimationsLocked(const std::string* key) {
    std::vector<std::function<void()>> stops;
    for (auto it = animations_.begin(); it != animations_.end();) {
        if (key && it->first != *key) {
            ++it;
            continue;
        }
        if (auto didStop = std::move(it->second.animation.didStop))
            stops.push_back([didStop] { didStop(false); });
        it = animations_.erase(it);
    }
    return stops;
}

void Layer::stopLater(std::vector<std::function<void()>> stops) {
    for (auto& stop : stops) DispatchQueue::main()->async(std::move(stop));
}

void Layer::removeAnimation(const std::string& key) {
    UIThreadChecker::recordMutation("Layer::removeAnimation");
    std::vector<std::function<void()>> stops;
    {
        UIGuard lock(UILock::mutex());
        stops = takeAnimationsLocked(&key);
    }
    stopLater(std::move(stops));
}

void Layer::removeAllAnimations() {
    UIThreadChecker::recordMutation("Layer::removeAllAnimations");
    std::vector<std::function<void()>> stops;
    {
        UIGuard lock(UILock::mutex());
        stops = takeAnimationsLocked(nullptr);
    }
    stopLater(std::move(stops));
}

std::vector<std::string> Layer::animationKeys() const {
    UIGuard lock(UILock::mutex());
    std::vector<std::string> keys;
    for (const auto& [key, running] : animations_) keys.push_back(key);
    return keys;
}

std::optional<BasicAnimation> Layer::animation(const std::string& key) const {
    UIGuard lock(UILock::mutex());
    auto it = animations_.find(key);
    if (it == animations_.end())
        return std::nullopt;
    return it->second.animation;
}

Value Layer::modelValueLocked(const std::string& key) const {
    if (key == "opacity")
        return opacity_;
    return Value();
}

Value Layer::presentationValue(const std::string& key) const {
    UIGuard lock(UILock::mutex());
    const Value model = modelValueLocked(key);
    for (const auto& [animationKey, running] : animations_) {
        const BasicAnimation& a = running.animation;
        if (a.keyPath != key)
            continue;
        const auto from = a.fromValue.isNull() ? model.asDouble() : a.fromValue.asDouble();
        const auto to = a.toValue.isNull() ? model.asDouble() : a.toValue.asDouble();
        if (!from || !to)
            continue;
        const double elapsed = uptimeSeconds() - running.beginTime - a.delay;
        if (elapsed < 0)
            return *from;
        if (a.duration <= 0 || elapsed >= a.duration)
            continue;
        const double t = BasicAnimation::ease(a.timing, elapsed / a.duration);
        return *from + (*to - *from) * t;
    }
    return model;
}

Point Layer::presentationPosition() const {
    UIGuard lock(UILock::mutex());
    const Point model = position_;
    for (const auto& [animationKey, running] : animations_) {
        const BasicAnimation& a = running.animation;
        if (a.keyPath != "position")
            continue;
        const auto point = [&](const Value& value) -> std::optional<Point> {
            if (value.isNull())
                return model;
            const Dictionary* d = value.asDictionary();
            if (!d)
                return std::nullopt;
            const auto x = d->find("x"), y = d->find("y");
            if (x == d->end() || y == d->end() || !x->second.asDouble() || !y->second.asDouble())
                return std::nullopt;
            return Point{*x->second.asDouble(), *y->second.asDouble()};
        };
        const auto from = point(a.fromValue), to = point(a.toValue);
        if (!from || !to)
            continue;
        const double elapsed = uptimeSeconds() - running.beginTime - a.delay;
        if (elapsed < 0)
            return *from;
        if (a.duration <= 0 || elapsed >= a.duration)
            continue;
        const double t = BasicAnimation::ease(a.timing, elapsed / a.duration);
        return Point{from->x + (to->x - from->x) * t, from->y + (to->y - from->y) * t};
    }
    return model;
}

GraphicsContext::ContentFit Layer::fitFor(ContentsGravity gravity) {
    switch (gravity) {
        case ContentsGravity::resize:
            return GraphicsContext::ContentFit::fill;
        case ContentsGravity::resizeAspect:
            return GraphicsContext::ContentFit::aspectFit;
        case ContentsGravity::resizeAspectFill:
            return GraphicsContext::ContentFit::aspectFill;
        case ContentsGravity::center:
            return GraphicsContext::ContentFit::center;
        case ContentsGravity::topLeft:
            return GraphicsContext::ContentFit::topLeft;
    }
    return GraphicsContext::ContentFit::fill;
}

void Layer::drawContents(GraphicsContext& context, const Rect& bounds) const {
    ImagePtr image;
    ContentsGravity gravity;
    {
        UIGuard lock(UILock::mutex());
        image = contents_;
        gravity = contentsGravity_;
    }
    if (image)
        context.drawImage(*image, bounds, fitFor(gravity));
}

void Layer::render(GraphicsContext& context) const {
    Rect bounds;
    Point position;
    AffineTransform transform;
    bool masks = false;
    Color background;
    LayerPtr maskLayer;
    std::vector<LayerPtr> sublayers;
    {
        UIGuard lock(UILock::mutex());
        if (hidden_)
            return;
        bounds = bounds_;
        position = position_;
        transform = transform_;
        masks = masksToBounds_;
        background = backgroundColor_;
        maskLayer = mask_;
        sublayers = sublayers_;
    }
    const double opacity = presentationValue("opacity").asDouble().value_or(1.0);
    if (opacity <= 0)
        return;
    position = presentationPosition();

    context.saveState();
    // The transform applies around the centre: move there, transform, move back.
    context.translate(position.x + transform.tx, position.y + transform.ty);
    context.scale(transform.a, transform.d);
    context.translate(-bounds.width() / 2 - bounds.minX(), -bounds.height() / 2 - bounds.minY());
    context.multiplyAlpha(opacity);
    if (masks)
        context.clip(bounds);
    auto drawBody = [&](GraphicsContext& canvas) {
        // Without a frame yet the layer draws as it would in a snapshot (its background,
        // or what lies below), and the screen redraws once a frame comes.
        const bool video = canvas.collectsVideo() && drawsVideo();
        const bool hole = video && videoContent(uptimeSeconds()).frame != nullptr;
        if (video)
            canvas.placeVideo(bounds, background, shared_from_this(), hole);
        if (!hole) {
            canvas.fill(bounds, background);
            drawContents(canvas, bounds);
        }
        for (const auto& sublayer : sublayers) sublayer->render(canvas);
    };
    if (maskLayer) {
        // The layer and its sublayers are drawn as one group, which shows by the alpha of
        // what the mask draws.
        auto group = context.makeGroupContext(true);
        drawBody(*group);
        auto coverage = context.makeGroupContext(false);
        maskLayer->render(*coverage);
        group->applyAlphaMask(*coverage);
        context.composite(*group);
    } else {
        drawBody(context);
    }
    context.restoreState();
}

}  // namespace pindle::platform::ui

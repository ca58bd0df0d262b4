#include "platform/ui/View.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

#include "platform/app/private/FirstResponder.hpp"
#include "platform/ui/GestureRecognizer.hpp"
#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/Window.hpp"
#include "platform/ui/private/LayoutSolver.hpp"
#include "platform/ui/private/UILock.hpp"
#include "platform/ui/private/ViewAnimation.hpp"

namespace pindle::platform::ui {

ViewPtr View::make(const Rect& frame) {
    return std::make_shared<View>(frame);
}

ViewPtr View::make(const Coder& coder) {
    auto view = std::make_shared<View>(Rect::zero());
    return view->decode(coder) ? view : nullptr;
}

View::View(const Rect& frame, LayerPtr layer) : layer_(layer ? std::move(layer) : Layer::make()) {
    layer_->setFrame(frame);
}

View::~View() {
    // Subviews outlive this view only if someone else holds them; they must not point back.
    UIGuard lock(UILock::mutex());
    for (const auto& subview : subviews_) {
        subview->superview_.reset();
    }
}

bool View::decode(const Coder& coder) {
    if (coder.containsValue("frame")) {
        auto frame = coder.decodeRect("frame");
        if (!frame)
            return false;
        setFrame(*frame);
    }
    auto checkBool = [&](const char* key, void (View::*set)(bool)) {
        if (!coder.containsValue(key))
            return true;
        auto v = coder.decodeBool(key);
        if (v)
            (this->*set)(*v);
        return v.has_value();
    };
    if (!checkBool("hidden", &View::setHidden) ||
        !checkBool("userInteractionEnabled", &View::setUserInteractionEnabled))
        return false;
    if (coder.containsValue("alpha")) {
        auto alpha = coder.decodeDouble("alpha");
        if (!alpha)
            return false;
        setAlpha(*alpha);
    }
    if (coder.containsValue("tag")) {
        auto tag = coder.decodeDouble("tag");
        if (!tag)
            return false;
        setTag(static_cast<int>(*tag));
    }
    return true;
}

Rect View::frame() const {
    return layer_->frame();
}

void View::setFrame(const Rect& frame) {
    const Size oldSize = layer_->bounds().size;
    recordAnimation("position", Coder::encodeRect(Rect{layer_->position(), Size{}}));
    recordAnimation("bounds", Coder::encodeRect(layer_->bounds()));
    willChangeValueForKey("frame");
    layer_->setFrame(frame);
    didChangeValueForKey("frame");
    sizeChanged(oldSize, layer_->bounds().size);
}

Rect View::bounds() const {
    return layer_->bounds();
}

void View::setBounds(const Rect& bounds) {
    const Size oldSize = layer_->bounds().size;
    recordAnimation("bounds", Coder::encodeRect(layer_->bounds()));
    layer_->setBounds(bounds);
    sizeChanged(oldSize, layer_->bounds().size);
}

Point View::center() const {
    return layer_->position();
}

void View::setCenter(Point center) {
    recordAnimation("position", Coder::encodeRect(Rect{layer_->position(), Size{}}));
    layer_->setPosition(center);
}

AffineTransform View::transform() const {
    return layer_->transform();
}

void View::setTransform(const AffineTransform& transform) {
    recordAnimation("transform", Value());
    layer_->setTransform(transform);
}

double View::alpha() const {
    return layer_->opacity();
}

void View::setAlpha(double alpha) {
    recordAnimation("opacity", layer_->opacity());
    willChangeValueForKey("alpha");
    layer_->setOpacity(alpha);
    didChangeValueForKey("alpha");
}

bool View::isHidden() const {
    return layer_->isHidden();
}

void View::setHidden(bool hidden) {
    willChangeValueForKey("hidden");
    layer_->setHidden(hidden);
    didChangeValueForKey("hidden");
}

Value View::valueForKey(std::string_view key) const {
    if (key == "frame")
        return Coder::encodeRect(frame());
    if (key == "hidden")
        return isHidden();
    if (key == "alpha")
        return alpha();
    return KeyValueObservable::valueForKey(key);
}

Color View::backgroundColor() const {
    return layer_->backgroundColor();
}

void View::setBackgroundColor(Color colour) {
    recordAnimation("backgroundColor", Value());
    layer_->setBackgroundColor(colour);
}

bool View::clipsToBounds() const {
    return layer_->masksToBounds();
}

void View::setClipsToBounds(bool clips) {
    layer_->setMasksToBounds(clips);
}

View::ContentMode View::contentMode() const {
    UIGuard lock(UILock::mutex());
    return contentMode_;
}

void View::setContentMode(ContentMode mode) {
    UIThreadChecker::recordMutation("View::setContentMode");
    UIGuard lock(UILock::mutex());
    contentMode_ = mode;
}

int View::tag() const {
    UIGuard lock(UILock::mutex());
    return tag_;
}

void View::setTag(int tag) {
    UIGuard lock(UILock::mutex());
    tag_ = tag;
}

bool View::isUserInteractionEnabled() const {
    UIGuard lock(UILock::mutex());
    return userInteractionEnabled_;
}

void View::setUserInteractionEnabled(bool enabled) {
    UIThreadChecker::recordMutation("View::setUserInteractionEnabled");
    UIGuard lock(UILock::mutex());
    userInteractionEnabled_ = enabled;
}

ViewPtr View::superview() const {
    UIGuard lock(UILock::mutex());
    return superview_.lock();
}

std::vector<ViewPtr> View::subviews() const {
    UIGuard lock(UILock::mutex());
    return subviews_;
}

std::shared_ptr<Window> View::window() const {
    UIGuard lock(UILock::mutex());
    const View* root = this;
    while (auto parent = root->superview_.lock()) root = parent.get();
    auto* window = dynamic_cast<const Window*>(root);
    if (!window)
        return nullptr;
    return std::static_pointer_cast<Window>(
        std::const_pointer_cast<Object>(window->shared_from_this()));
}

bool View::isDescendant(const View& ancestor) const {
    UIGuard lock(UILock::mutex());
    for (const View* v = this; v;) {
        if (v == &ancestor)
            return true;
        auto parent = v->superview_.lock();
        v = parent.get();
    }
    return false;
}

void View::addSubview(const ViewPtr& view) {
    insertSubview(view, static_cast<std::size_t>(-1));
}

void View::insertSubview(const ViewPtr& view, std::size_t index) {
    if (!view || view.get() == this || isDescendant(*view))
        return;
    UIThreadChecker::recordMutation("View::insertSubview");
    ViewPtr oldSuperview = view->superview();
    {
        UIGuard lock(UILock::mutex());
        if (oldSuperview) {
            auto& siblings = oldSuperview->subviews_;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), view), siblings.end());
        }
        insertSubviewLocked(view, index);
    }
    setNeedsLayout();
    view->didMoveToSuperview();
}

void View::insertSubviewLocked(const ViewPtr& view, std::size_t index) {
    index = std::min(index, subviews_.size());
    // The subview's layer goes just below the layer of the subview it is inserted before,
    // so other sublayers (added beside the subviews) keep their places.
    if (index < subviews_.size())
        layer_->insertSublayerBelow(view->layer_, subviews_[index]->layer_);
    else if (!subviews_.empty()) {
        const auto& sublayers = layer_->sublayers();
        auto last = std::find(sublayers.begin(), sublayers.end(), subviews_.back()->layer_);
        layer_->insertSublayer(view->layer_,
                               static_cast<std::size_t>(last - sublayers.begin()) + 1);
    } else {
        layer_->insertSublayer(view->layer_, 0);
    }
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
    view->superview_ = std::static_pointer_cast<View>(shared_from_this());
}

void View::removeFromSuperview() {
    ViewPtr parent = superview();
    if (!parent)
        return;
    UIThreadChecker::recordMutation("View::removeFromSuperview");
    {
        UIGuard lock(UILock::mutex());
        auto& siblings = parent->subviews_;
        siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                      [this](const ViewPtr& v) { return v.get() == this; }),
                       siblings.end());
        superview_.reset();
        layer_->removeFromSuperlayer();
    }
    parent->setNeedsLayout();
    didMoveToSuperview();
}

void View::bringSubviewToFront(const ViewPtr& view) {
    if (!view || view->superview().get() != this)
        return;
    UIThreadChecker::recordMutation("View::bringSubviewToFront");
    {
        UIGuard lock(UILock::mutex());
        subviews_.erase(std::remove(subviews_.begin(), subviews_.end(), view), subviews_.end());
        view->layer_->removeFromSuperlayer();
        insertSubviewLocked(view, subviews_.size());
    }
}

void View::sendSubviewToBack(const ViewPtr& view) {
    if (!view || view->superview().get() != this)
        return;
    UIThreadChecker::recordMutation("View::sendSubviewToBack");
    {
        UIGuard lock(UILock::mutex());
        subviews_.erase(std::remove(subviews_.begin(), subviews_.end(), view), subviews_.end());
        view->layer_->removeFromSuperlayer();
        insertSubviewLocked(view, 0);
    }
}

unsigned View::autoresizingMask() const {
    UIGuard lock(UILock::mutex());
    return autoresizingMask_;
}

void View::setAutoresizingMask(unsigned mask) {
    UIThreadChecker::recordMutation("View::setAutoresizingMask");
    UIGuard lock(UILock::mutex());
    autoresizingMask_ = mask;
}

bool View::autoresizesSubviews() const {
    UIGuard lock(UILock::mutex());
    return autoresizesSubviews_;
}

void View::setAutoresizesSubviews(bool autoresizes) {
    UIThreadChecker::recordMutation("View::setAutoresizesSubviews");
    UIGuard lock(UILock::mutex());
    autoresizesSubviews_ = autoresizes;
}

bool View::translatesAutoresizingMaskIntoConstraints() const {
    UIGuard lock(UILock::mutex());
    return translatesAutoresizingMask_;
}

void View::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
    UIThreadChecker::recordMutation("View::setTranslatesAutoresizingMaskIntoConstraints");
    {
        UIGuard lock(UILock::mutex());
        translatesAutoresizingMask_ = translates;
    }
    if (auto parent = superview())
        parent->setNeedsLayout();
}

void View::sizeChanged(Size oldSize, Size newSize) {
    if (oldSize == newSize)
        return;
    if (autoresizesSubviews())
        autoresizeSubviews(oldSize, newSize);
    {
        UIGuard lock(UILock::mutex());
        needsUpdateConstraints_ = true;
    }
    setNeedsLayout();
}

namespace {

// Spreads `delta` over the flexible parts of one axis (leading margin, size, trailing
// margin) in proportion to their current lengths, or evenly when they are all 0.
void stretch(double& lead, double& size, double& trail, bool flexLead, bool flexSize,
             bool flexTrail, double delta) {
    double* parts[3] = {&lead, &size, &trail};
    const bool flexible[3] = {flexLead, flexSize, flexTrail};
    double total = 0;
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        if (flexible[i]) {
            total += std::max(0.0, *parts[i]);
            ++count;
        }
    }
    if (count == 0)
        return;
    for (int i = 0; i < 3; ++i) {
        if (!flexible[i])
            continue;
        const double share = total > 0 ? std::max(0.0, *parts[i]) / total : 1.0 / count;
        *parts[i] += delta * share;
    }
    size = std::max(0.0, size);
}

}  // namespace

void View::autoresizeSubviews(Size oldSize, Size newSize) {
    for (const auto& subview : subviews()) {
        if (!subview->translatesAutoresizingMaskIntoConstraints())
            continue;
        const unsigned mask = subview->autoresizingMask();
        if (mask == none)
            continue;
        const Rect f = subview->frame();
        double left = f.minX(), width = f.width(), right = oldSize.width - f.maxX();
        double top = f.minY(), height = f.height(), bottom = oldSize.height - f.maxY();
        stretch(left, width, right, mask & flexibleLeftMargin, mask & flexibleWidth,
                mask & flexibleRightMargin, newSize.width - oldSize.width);
        stretch(top, height, bottom, mask & flexibleTopMargin, mask & flexibleHeight,
                mask & flexibleBottomMargin, newSize.height - oldSize.height);
        subview->setFrame(Rect::make(left, top, width, height));
    }
}

void View::setNeedsLayout() {
    {
        UIGuard lock(UILock::mutex());
        needsLayout_ = true;
    }
    requestWindowLayout();
}

bool View::needsLayout() const {
    UIGuard lock(UILock::mutex());
    return needsLayout_;
}

void View::setNeedsUpdateConstraints() {
    {
        UIGuard lock(UILock::mutex());
        needsUpdateConstraints_ = true;
    }
    requestWindowLayout();
}

void View::requestWindowLayout() {
    if (auto w = window())
        w->scheduleLayout();
}

void View::layoutIfNeeded() {
    updateConstraintsPass();
    layoutPass();
}

void View::updateConstraintsPass() {
    bool needed = false;
    {
        UIGuard lock(UILock::mutex());
        std::swap(needed, needsUpdateConstraints_);
    }
    if (needed)
        updateConstraints();
    for (const auto& subview : subviews()) subview->updateConstraintsPass();
}

void View::layoutPass() {
    bool needed = false;
    {
        UIGuard lock(UILock::mutex());
        std::swap(needed, needsLayout_);
    }
    if (needed)
        layoutSubviews();
    for (const auto& subview : subviews()) subview->layoutPass();
}

void View::layoutSubviews() {
    LayoutSolver::layoutSubviews(*this);
}

Size View::intrinsicContentSize() const {
    return Size{noIntrinsicMetric, noIntrinsicMetric};
}

std::vector<LayoutConstraintPtr> View::constraints() const {
    UIGuard lock(UILock::mutex());
    return constraints_;
}

void View::addConstraint(const LayoutConstraintPtr& constraint) {
    if (!constraint)
        return;
    installConstraint(constraint);
}

void View::addConstraints(const std::vector<LayoutConstraintPtr>& constraints) {
    for (const auto& c : constraints) addConstraint(c);
}

void View::removeConstraint(const LayoutConstraintPtr& constraint) {
    if (constraint)
        constraint->setActive(false);
}

void View::installConstraint(const LayoutConstraintPtr& constraint) {
    UIThreadChecker::recordMutation("View::addConstraint");
    {
        UIGuard lock(UILock::mutex());
        if (auto old = constraint->holder_.lock())
            old->uninstallConstraint(constraint.get());
        constraints_.push_back(constraint);
        constraint->holder_ = std::static_pointer_cast<View>(shared_from_this());
        constraint->active_ = true;
    }
    constraint->requestLayout();
}

void View::uninstallConstraint(const LayoutConstraint* constraint) {
    UIGuard lock(UILock::mutex());
    constraints_.erase(std::remove_if(constraints_.begin(), constraints_.end(),
                                      [constraint](const LayoutConstraintPtr& c) {
                                          return c.get() == constraint;
                                      }),
                       constraints_.end());
}

namespace {

std::atomic<unsigned> lastOptions{0};

TimingFunction timingFor(unsigned options) {
    switch (options & View::AnimationOptions::curveMask) {
        case View::AnimationOptions::curveEaseIn:
            return TimingFunction::easeIn;
        case View::AnimationOptions::curveEaseOut:
            return TimingFunction::easeOut;
        case View::AnimationOptions::curveLinear:
            return TimingFunction::linear;
        default:
            return TimingFunction::easeInEaseOut;
    }
}

}  // namespace

void View::animate(double duration, double delay, unsigned options,
                   const std::function<void()>& animations,
                   std::function<void(bool finished)> completion) {
    lastOptions = options;
    std::make_shared<ViewAnimation>(duration, delay, timingFor(options), std::move(completion))
        ->run(animations);
}

void View::animate(double duration, const std::function<void()>& animations,
                   std::function<void(bool finished)> completion) {
    animate(duration, 0, AnimationOptions::curveEaseInOut, animations, std::move(completion));
}

unsigned View::lastAnimationOptions() {
    return lastOptions.load();
}

void View::recordAnimation(const char* key, Value from) {
    if (auto transaction = ViewAnimation::current())
        transaction->record(*layer_, key, std::move(from));
}

LayoutAnchor View::anchor(LayoutAttribute attribute) {
    return LayoutAnchor(std::static_pointer_cast<View>(shared_from_this()), attribute);
}

Point View::convertPointTo(Point point, const View* view) const {
    // Up to the root, then down to the target.
    UIGuard lock(UILock::mutex());
    for (const View* v = this; v;) {
        if (v == view)
            return point;
        const Rect b = v->bounds();
        const Rect f = v->frame();
        auto parent = v->superview_.lock();
        if (!parent)
            break;
        point = Point{point.x - b.minX() + f.minX(), point.y - b.minY() + f.minY()};
        v = parent.get();
    }
    return view ? view->convertPointFrom(point, nullptr) : point;
}

Point View::convertPointFrom(Point point, const View* view) const {
    // `point` in `view` coordinates: take it to the root, then walk down to this view.
    if (view)
        point = view->convertPointTo(point, nullptr);
    std::vector<const View*> chain;
    {
        UIGuard lock(UILock::mutex());
        for (const View* v = this; v;) {
            auto parent = v->superview_.lock();
            if (!parent)
                break;
            chain.push_back(v);
            v = parent.get();
        }
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const Rect b = (*it)->bounds();
        const Rect f = (*it)->frame();
        point = Point{point.x - f.minX() + b.minX(), point.y - f.minY() + b.minY()};
    }
    return point;
}

Rect View::convertRectTo(const Rect& rect, const View* view) const {
    const Rect r = rect.standardized();
    const Point origin = convertPointTo(r.origin, view);
    return Rect{origin, r.size};
}

Rect View::convertRectFrom(const Rect& rect, const View* view) const {
    const Rect r = rect.standardized();
    const Point origin = convertPointFrom(r.origin, view);
    return Rect{origin, r.size};
}

ImagePtr View::snapshotImage(double scale) {
    layoutIfNeeded();
    const Rect b = bounds();
    if (!(scale > 0) || b.isEmpty())
        return nullptr;
    const int width = static_cast<int>(std::ceil(b.width() * scale));
    const int height = static_cast<int>(std::ceil(b.height() * scale));
    auto context = GraphicsContext::make(width, height, scale);
    if (!context)
        return nullptr;
    // Draw the view's own layer at the canvas origin, whatever its frame in the superview.
    const Point position = layer_->position();
    context->translate(b.width() / 2 - position.x, b.height() / 2 - position.y);
    layer_->render(*context);
    return context->makeImage();
}

ViewPtr View::hitTest(Point point) {
    if (isHidden() || !isUserInteractionEnabled() || alpha() < 0.01 || !bounds().contains(point))
        return nullptr;
    const auto children = subviews();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (auto hit = (*it)->hitTest((*it)->convertPointFrom(point, this)))
            return hit;
    }
    return std::static_pointer_cast<View>(shared_from_this());
}

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
    if (!recognizer)
        return;
    UIThreadChecker::recordMutation("View::addGestureRecognizer");
    {
        UIGuard lock(UILock::mutex());
        if (std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer) !=
            gestureRecognizers_.end())
            return;
        gestureRecognizers_.push_back(recognizer);
    }
    recognizer->attach(std::static_pointer_cast<View>(shared_from_this()));
}

void View::removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
    UIThreadChecker::recordMutation("View::removeGestureRecognizer");
    {
        UIGuard lock(UILock::mutex());
        auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
        if (it == gestureRecognizers_.end())
            return;
        gestureRecognizers_.erase(it);
    }
    recognizer->attach({});
}

std::vector<std::shared_ptr<GestureRecognizer>> View::gestureRecognizers() const {
    UIGuard lock(UILock::mutex());
    return gestureRecognizers_;
}

namespace {

std::mutex& responderMutex() {
    static std::mutex mutex;
    return mutex;
}

std::weak_ptr<View>& firstResponder() {  // guarded by responderMutex()
    static std::weak_ptr<View> responder;
    return responder;
}

// Installed as the library loads: the application ends editing through it.
[[maybe_unused]] const bool firstResponderInstalled = [] {
    FirstResponder::install([] {
        auto responder = View::currentFirstResponder();
        return responder && responder->resignFirstResponder();
    });
    return true;
}();

}  // namespace

bool View::becomeFirstResponder() {
    if (!canBecomeFirstResponder())
        return false;
    std::lock_guard lock(responderMutex());
    firstResponder() = std::static_pointer_cast<View>(shared_from_this());
    return true;
}

bool View::resignFirstResponder() {
    std::lock_guard lock(responderMutex());
    if (firstResponder().lock().get() != this)
        return false;
    firstResponder().reset();
    return true;
}

bool View::isFirstResponder() const {
    std::lock_guard lock(responderMutex());
    return firstResponder().lock().get() == this;
}

ViewPtr View::currentFirstResponder() {
    std::lock_guard lock(responderMutex());
    return firstResponder().lock();
}

}  // namespace pindle::platform::ui

#include "platform/ui/LayoutConstraint.hpp"

#include "platform/ui/private/VisualFormat.hpp"

#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/View.hpp"
#include "platform/ui/private/UILock.hpp"

namespace pindle::platform::ui {
namespace {

// The closest view that holds both items (the first item itself without a second), or the
// first item when they are not in one tree yet.
ViewPtr holderFor(const ViewPtr& first, const ViewPtr& second) {
    if (!second)
        return first;
    for (ViewPtr v = first; v; v = v->superview()) {
        if (second->isDescendant(*v))
            return v;
    }
    return first;
}

}  // namespace

LayoutConstraintPtr LayoutConstraint::make(const std::shared_ptr<View>& firstItem,
                                           LayoutAttribute firstAttribute, LayoutRelation relation,
                                           const std::shared_ptr<View>& secondItem,
                                           LayoutAttribute secondAttribute, double multiplier,
                                           double constant) {
    return std::make_shared<LayoutConstraint>(Private{}, firstItem, firstAttribute, relation,
                                              secondItem, secondAttribute, multiplier, constant);
}

LayoutConstraint::LayoutConstraint(Private, const std::shared_ptr<View>& firstItem,
                                   LayoutAttribute firstAttribute, LayoutRelation relation,
                                   const std::shared_ptr<View>& secondItem,
                                   LayoutAttribute secondAttribute, double multiplier,
                                   double constant)
    : firstItem_(firstItem),
      firstAttribute_(firstAttribute),
      relation_(relation),
      secondItem_(secondItem),
      secondAttribute_(secondItem ? secondAttribute : LayoutAttribute::notAnAttribute),
      multiplier_(multiplier),
      constant_(constant) {}

void LayoutConstraint::activate(const std::vector<LayoutConstraintPtr>& constraints) {
    for (const auto& c : constraints) {
        if (c)
            c->setActive(true);
    }
}

void LayoutConstraint::deactivate(const std::vector<LayoutConstraintPtr>& constraints) {
    for (const auto& c : constraints) {
        if (c)
            c->setActive(false);
    }
}

double LayoutConstraint::constant() const {
    UIGuard lock(UILock::mutex());
    return constant_;
}

void LayoutConstraint::setConstant(double constant) {
    UIThreadChecker::recordMutation("LayoutConstraint::setConstant");
    {
        UIGuard lock(UILock::mutex());
        constant_ = constant;
    }
    requestLayout();
}

float LayoutConstraint::priority() const {
    UIGuard lock(UILock::mutex());
    return priority_;
}

void LayoutConstraint::setPriority(float priority) {
    UIGuard lock(UILock::mutex());
    priority_ = priority;
}

bool LayoutConstraint::isActive() const {
    UIGuard lock(UILock::mutex());
    return active_;
}

void LayoutConstraint::setActive(bool active) {
    if (active == isActive())
        return;
    if (active) {
        ViewPtr first = firstItem();
        if (!first)
            return;
        holderFor(first, secondItem())
            ->installConstraint(std::static_pointer_cast<LayoutConstraint>(shared_from_this()));
        return;
    }
    UIThreadChecker::recordMutation("LayoutConstraint::deactivate");
    ViewPtr holder;
    {
        UIGuard lock(UILock::mutex());
        holder = holder_.lock();
        holder_.reset();
        active_ = false;
    }
    if (holder)
        holder->uninstallConstraint(this);
    requestLayout();
}

void LayoutConstraint::requestLayout() const {
    for (const ViewPtr& item : {firstItem(), secondItem()}) {
        if (!item)
            continue;
        item->setNeedsLayout();
        if (auto parent = item->superview())
            parent->setNeedsLayout();
    }
}

std::vector<LayoutConstraintPtr> LayoutConstraint::constraintsWithVisualFormat(
    const std::string& format, unsigned, const std::map<std::string, double>& metrics,
    const std::map<std::string, std::shared_ptr<View>>& views) {
    return VisualFormat::parse(format, metrics, views);
}

}  // namespace pindle::platform::ui

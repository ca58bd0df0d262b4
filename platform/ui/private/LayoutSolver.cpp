#include "platform/ui/private/LayoutSolver.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "platform/log/StandardError.hpp"
#include "platform/ui/View.hpp"

namespace pindle::platform::ui {
namespace {

constexpr int maxWarnings = 10;
constexpr double tolerance = 0.001;

enum class Role { lowEdge, highEdge, centre, size, none };

bool isHorizontal(LayoutAttribute a) {
    switch (a) {
        case LayoutAttribute::left:
        case LayoutAttribute::right:
        case LayoutAttribute::leading:
        case LayoutAttribute::trailing:
        case LayoutAttribute::width:
        case LayoutAttribute::centerX:
            return true;
        default:
            return false;
    }
}

Role roleOf(LayoutAttribute a) {
    switch (a) {
        case LayoutAttribute::left:
        case LayoutAttribute::leading:
        case LayoutAttribute::top:
            return Role::lowEdge;
        case LayoutAttribute::right:
        case LayoutAttribute::trailing:
        case LayoutAttribute::bottom:
            return Role::highEdge;
        case LayoutAttribute::centerX:
        case LayoutAttribute::centerY:
            return Role::centre;
        case LayoutAttribute::width:
        case LayoutAttribute::height:
            return Role::size;
        case LayoutAttribute::notAnAttribute:
            break;
    }
    return Role::none;
}

double attributeOf(const Rect& r, LayoutAttribute a) {
    switch (a) {
        case LayoutAttribute::left:
        case LayoutAttribute::leading:
            return r.minX();
        case LayoutAttribute::right:
        case LayoutAttribute::trailing:
            return r.maxX();
        case LayoutAttribute::top:
            return r.minY();
        case LayoutAttribute::bottom:
            return r.maxY();
        case LayoutAttribute::width:
            return r.width();
        case LayoutAttribute::height:
            return r.height();
        case LayoutAttribute::centerX:
            return r.midX();
        case LayoutAttribute::centerY:
            return r.midY();
        case LayoutAttribute::notAnAttribute:
            break;
    }
    return 0;
}

struct Axis {
    std::optional<double> low, high, centre, size;
    double minSize = 0;
    double maxSize = INFINITY;
    bool constrained = false;
    bool contradicted = false;

    void set(Role role, double value) {
        std::optional<double>* slot = role == Role::lowEdge    ? &low
                                      : role == Role::highEdge ? &high
                                      : role == Role::centre   ? &centre
                                                               : &size;
        if (*slot && std::abs(**slot - value) > tolerance)
            contradicted = true;
        else if (!*slot)
            *slot = value;
    }

    // Origin and length of the axis, or nothing to keep the current ones.
    std::optional<std::pair<double, double>> resolve(double currentOrigin, double currentSize,
                                                     double intrinsic) {
        if (!constrained)
            return std::nullopt;
        std::optional<double> length = size;
        if (!length && low && high)
            length = *high - *low;
        if (!length && centre && low)
            length = 2 * (*centre - *low);
        if (!length && centre && high)
            length = 2 * (*high - *centre);
        if (!length)
            length = intrinsic >= 0 ? intrinsic : currentSize;
        const double bounded = std::clamp(*length, minSize, std::max(minSize, maxSize));
        if (size && std::abs(bounded - *size) > tolerance)
            contradicted = true;
        if (low && high && std::abs(*high - *low - bounded) > tolerance)
            contradicted = true;
        if (contradicted)
            return std::nullopt;
        double origin = currentOrigin;
        if (low)
            origin = *low;
        else if (high)
            origin = *high - bounded;
        else if (centre)
            origin = *centre - bounded / 2;
        return std::make_pair(origin, bounded);
    }
};

void warn(const View& view) {
    static std::atomic<int> warnings{0};
    if (warnings.fetch_add(1) >= maxWarnings)
        return;
    const std::string text =
        "Unable to satisfy the layout constraints of " + view.description() + "; frame kept\n";
    const std::string_view pieces[] = {text};
    StandardError::writeGathered(pieces);
}

}  // namespace

void LayoutSolver::layoutSubviews(View& superview) {
    // Constraints may be installed on the superview, on an ancestor (common to views in
    // different branches) or on a subview (its own size).
    std::vector<LayoutConstraintPtr> constraints;
    for (ViewPtr v = std::static_pointer_cast<View>(superview.shared_from_this()); v;
         v = v->superview()) {
        auto installed = v->constraints();
        constraints.insert(constraints.end(), installed.begin(), installed.end());
    }
    const auto subviews = superview.subviews();
    for (const auto& subview : subviews) {
        auto installed = subview->constraints();
        constraints.insert(constraints.end(), installed.begin(), installed.end());
    }
    if (constraints.empty())
        return;
    std::stable_sort(constraints.begin(), constraints.end(),
                     [](const LayoutConstraintPtr& a, const LayoutConstraintPtr& b) {
                         return a->priority() > b->priority();
                     });

    std::vector<const View*> unplaced;
    for (const auto& subview : subviews) unplaced.push_back(subview.get());
    for (const auto& subview : subviews) {
        unplaced.erase(std::find(unplaced.begin(), unplaced.end(), subview.get()));
        if (subview->translatesAutoresizingMaskIntoConstraints())
            continue;
        Axis horizontal, vertical;
        for (const auto& c : constraints) {
            if (!c->isActive())
                continue;
            ViewPtr first = c->firstItem();
            ViewPtr second = c->secondItem();
            LayoutAttribute mine, theirs;
            ViewPtr other;
            double multiplier = c->multiplier();
            double constant = c->constant();
            LayoutRelation relation = c->relation();
            if (first == subview) {
                mine = c->firstAttribute();
                other = second;
                theirs = c->secondAttribute();
            } else if (second == subview && first != subview) {
                // first = m * mine + k, so mine = (first - k) / m.
                if (multiplier == 0)
                    continue;
                mine = c->secondAttribute();
                other = first;
                theirs = c->firstAttribute();
                constant = -constant / multiplier;
                multiplier = 1 / multiplier;
                if (relation != LayoutRelation::equal && multiplier > 0)
                    relation = relation == LayoutRelation::lessThanOrEqual
                                   ? LayoutRelation::greaterThanOrEqual
                                   : LayoutRelation::lessThanOrEqual;
            } else {
                continue;
            }
            // A constraint between this subview and its own descendant places the
            // descendant, in the subview's own layout pass.
            if (other && (other == subview || other->isDescendant(*subview)))
                continue;
            // A sibling still to come has no place yet: it is placed from this one instead.
            if (other && std::find(unplaced.begin(), unplaced.end(), other.get()) != unplaced.end())
                continue;
            const Role role = roleOf(mine);
            if (role == Role::none)
                continue;
            double value = constant;
            if (other) {
                const Rect rect = other.get() == &superview
                                      ? superview.bounds()
                                      : superview.convertRectFrom(other->bounds(), other.get());
                value += multiplier * attributeOf(rect, theirs);
            }
            Axis& axis = isHorizontal(mine) ? horizontal : vertical;
            axis.constrained = true;
            if (relation == LayoutRelation::equal)
                axis.set(role, value);
            else if (role == Role::size && relation == LayoutRelation::greaterThanOrEqual)
                axis.minSize = std::max(axis.minSize, value);
            else if (role == Role::size)
                axis.maxSize = std::min(axis.maxSize, value);
        }

        const Rect frame = subview->frame();
        const Size intrinsic = subview->intrinsicContentSize();
        auto x = horizontal.resolve(frame.minX(), frame.width(), intrinsic.width);
        auto y = vertical.resolve(frame.minY(), frame.height(), intrinsic.height);
        if (horizontal.contradicted || vertical.contradicted)
            warn(*subview);
        const Rect placed =
            Rect::make(x ? x->first : frame.minX(), y ? y->first : frame.minY(),
                       x ? x->second : frame.width(), y ? y->second : frame.height());
        if (placed != frame)
            subview->setFrame(placed);
    }
}

}  // namespace pindle::platform::ui

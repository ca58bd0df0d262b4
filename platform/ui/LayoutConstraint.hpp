// LayoutConstraint: one linear relation between two layout attributes of views,
//   firstItem.firstAttribute  (=, <= or >=)  multiplier * secondItem.secondAttribute + constant
// or, without a second item, against the constant alone (a fixed width or height).
//
// A constraint does nothing until it is active. Activating it installs it on the closest
// common ancestor of its items (or the first item when they share none yet) and asks for a
// layout pass; so does changing `constant`. The layout pass of each view resolves the
// constraints of its subviews (LayoutSolver). Items are held weakly: a constraint never keeps
// a view alive.
//
// Thread-safety: all operations are safe from any thread (guarded by UILock). No callbacks.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Object.hpp"

namespace pindle::platform::ui {

class View;

enum class LayoutAttribute {
    notAnAttribute,
    left,
    right,
    top,
    bottom,
    leading,
    trailing,
    width,
    height,
    centerX,
    centerY,
};

enum class LayoutRelation { lessThanOrEqual = -1, equal = 0, greaterThanOrEqual = 1 };

class LayoutConstraint;
using LayoutConstraintPtr = std::shared_ptr<LayoutConstraint>;

class LayoutConstraint : public Object {
  public:
    static constexpr float requiredPriority = 1000;

    static LayoutConstraintPtr make(const std::shared_ptr<View>& firstItem,
                                    LayoutAttribute firstAttribute, LayoutRelation relation,
                                    const std::shared_ptr<View>& secondItem,
                                    LayoutAttribute secondAttribute, double multiplier,
                                    double constant);

    static void activate(const std::vector<LayoutConstraintPtr>& constraints);
    static void deactivate(const std::vector<LayoutConstraintPtr>& constraints);
    // The constraints a visual format describes ("H:|-20-[control]-20-|"), inactive; see
    // VisualFormat. `options` is accepted for the phone platform's signature and unused.
    static std::vector<LayoutConstraintPtr> constraintsWithVisualFormat(
        const std::string& format, unsigned options, const std::map<std::string, double>& metrics,
        const std::map<std::string, std::shared_ptr<View>>& views);

    std::shared_ptr<View> firstItem() const { return firstItem_.lock(); }
    LayoutAttribute firstAttribute() const { return firstAttribute_; }
    LayoutRelation relation() const { return relation_; }
    std::shared_ptr<View> secondItem() const { return secondItem_.lock(); }
    LayoutAttribute secondAttribute() const { return secondAttribute_; }
    double multiplier() const { return multiplier_; }

    double constant() const;
    void setConstant(double constant);
    float priority() const;
    void setPriority(float priority);
    bool isActive() const;
    void setActive(bool active);

    struct Private {
        explicit Private() = default;
    };
    LayoutConstraint(Private, const std::shared_ptr<View>& firstItem,
                     LayoutAttribute firstAttribute, LayoutRelation relation,
                     const std::shared_ptr<View>& secondItem, LayoutAttribute secondAttribute,
                     double multiplier, double constant);

  private:
    friend class View;
    void requestLayout() const;

    const std::weak_ptr<View> firstItem_;
    const LayoutAttribute firstAttribute_;
    const LayoutRelation relation_;
    const std::weak_ptr<View> secondItem_;
    const LayoutAttribute secondAttribute_;
    const double multiplier_;
    double constant_;                    // guarded by UILock
    float priority_ = requiredPriority;  // guarded by UILock
    std::weak_ptr<View> holder_;         // guarded by UILock; the view it is installed on
    bool active_ = false;                // guarded by UILock
};

}  // namespace pindle::platform::ui

// LayoutAnchor: one layout attribute of one view, from which constraints are made
// (view->topAnchor().constraint(equalTo: other->topAnchor())). The constraints it makes
// are inactive: activate them or add them to a view.
//
// Thread-safety: a value holding the view weakly; safe from any thread. No callbacks.
#pragma once

#include <memory>

#include "platform/ui/LayoutConstraint.hpp"

namespace pindle::platform::ui {

class LayoutAnchor {
  public:
    LayoutAnchor(std::weak_ptr<View> item, LayoutAttribute attribute)
        : item_(std::move(item)), attribute_(attribute) {}

    std::shared_ptr<View> item() const { return item_.lock(); }
    LayoutAttribute attribute() const { return attribute_; }

    LayoutConstraintPtr constraint(const LayoutAnchor& equalTo, double constant = 0) const;
    LayoutConstraintPtr constraintGreaterThanOrEqualTo(const LayoutAnchor& other,
                                                       double constant = 0) const;
    LayoutConstraintPtr constraintLessThanOrEqualTo(const LayoutAnchor& other,
                                                    double constant = 0) const;
    // Dimension anchors: a multiple of another dimension, or a constant size.
    LayoutConstraintPtr constraint(const LayoutAnchor& equalTo, double multiplier,
                                   double constant) const;
    LayoutConstraintPtr constraintEqualToConstant(double constant) const;

  private:
    LayoutConstraintPtr make(LayoutRelation relation, const LayoutAnchor* other, double multiplier,
                             double constant) const;

    std::weak_ptr<View> item_;
    LayoutAttribute attribute_;
};

}  // namespace pindle::platform::ui

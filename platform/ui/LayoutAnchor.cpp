#include "platform/ui/LayoutAnchor.hpp"

namespace pindle::platform::ui {

LayoutConstraintPtr LayoutAnchor::make(LayoutRelation relation, const LayoutAnchor* other,
                                       double multiplier, double constant) const {
    return LayoutConstraint::make(item(), attribute_, relation, other ? other->item() : nullptr,
                                  other ? other->attribute_ : LayoutAttribute::notAnAttribute,
                                  multiplier, constant);
}

LayoutConstraintPtr LayoutAnchor::constraint(const LayoutAnchor& equalTo, double constant) const {
    return make(LayoutRelation::equal, &equalTo, 1.0, constant);
}

LayoutConstraintPtr LayoutAnchor::constraintGreaterThanOrEqualTo(const LayoutAnchor& other,
                                                                 double constant) const {
    return make(LayoutRelation::greaterThanOrEqual, &other, 1.0, constant);
}

LayoutConstraintPtr LayoutAnchor::constraintLessThanOrEqualTo(const LayoutAnchor& other,
                                                              double constant) const {
    return make(LayoutRelation::lessThanOrEqual, &other, 1.0, constant);
}

LayoutConstraintPtr LayoutAnchor::constraint(const LayoutAnchor& equalTo, double multiplier,
                                             double constant) const {
    return make(LayoutRelation::equal, &equalTo, multiplier, constant);
}

LayoutConstraintPtr LayoutAnchor::constraintEqualToConstant(double constant) const {
    return make(LayoutRelation::equal, nullptr, 0.0, constant);
}

}  // namespace pindle::platform::ui

#include "platform/log/SystemLogQuery.hpp"

#include <compare>

#include "platform/foundation/Text.hpp"

namespace pindle::platform {

namespace {

bool satisfies(std::strong_ordering order, SystemLogQuery::Comparison comparison) {
    using Comparison = SystemLogQuery::Comparison;
    switch (comparison) {
        case Comparison::equal:
            return order == 0;
        case Comparison::notEqual:
            return order != 0;
        case Comparison::greater:
            return order > 0;
        case Comparison::greaterOrEqual:
            return order >= 0;
        case Comparison::less:
            return order < 0;
        case Comparison::lessOrEqual:
            return order <= 0;
    }
    return false;
}

}  // namespace

void SystemLogQuery::add(std::string key, Comparison comparison, std::string value, bool numeric) {
    conditions_.push_back(Condition{std::move(key), comparison, std::move(value), numeric});
}

bool SystemLogQuery::matches(const SystemLogMessage& record) const {
    for (const auto& condition : conditions_) {
        auto value = record.get(condition.key);
        if (!value) {
            return false;
        }
        std::strong_ordering order = std::strong_ordering::equal;
        if (condition.numeric) {
            auto lhs = Text::int64Value(*value);
            auto rhs = Text::int64Value(condition.value);
            if (!lhs || !rhs) {
                return false;
            }
            order = *lhs <=> *rhs;
        } else {
            int compared = value->compare(condition.value);
            order = compared <=> 0;
        }
        if (!satisfies(order, condition.comparison)) {
            return false;
        }
    }
    return true;
}

}  // namespace pindle::platform

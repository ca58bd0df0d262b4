// VisualFormat: the parser of the visual format language of layout constraints, e.g.
// "H:|-20-[control]-20-|" or "V:[control(80)]-30-|". It covers an orientation ("H:", the
// default, or "V:"), the superview edges "|", connections "-N-" (N a number or a metric
// name), "-" (standard spacing: 8 between views, 20 to an edge) and none (0), views
// "[name]" with optional size predicates "(N)", "(==N)", "(>=N)", "(<=N)", comma-separated.
//
// Horizontal edges are leading and trailing, vertical ones top and bottom. A format that
// does not parse, or names a view that is not given (or whose superview is missing where
// an edge is used), gives no constraints and one line on standard error.
//
// Thread-safety: a pure function, safe from any thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/LayoutConstraint.hpp"

namespace pindle::platform::ui {

class VisualFormat {
  public:
    VisualFormat() = delete;

    static std::vector<LayoutConstraintPtr> parse(
        const std::string& format, const std::map<std::string, double>& metrics,
        const std::map<std::string, std::shared_ptr<View>>& views);
};

}  // namespace pindle::platform::ui

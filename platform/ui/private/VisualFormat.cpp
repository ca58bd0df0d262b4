#include "platform/ui/private/VisualFormat.hpp"

#include <cctype>
#include <cstdlib>
#include <optional>

#include "platform/log/StandardError.hpp"
#include "platform/ui/View.hpp"

namespace pindle::platform::ui {
namespace {

constexpr double siblingSpacing = 8;
constexpr double edgeSpacing = 20;

struct Predicate {
    LayoutRelation relation = LayoutRelation::equal;
    double constant = 0;
};

struct Element {
    std::shared_ptr<View> view;
    std::vector<Predicate> size;
};

// A "-" between two items: standard spacing unless it names its own ("-12-"); no "-" at all
// joins the items edge to edge.
struct Connection {
    bool present = false;
    bool sized = false;
    double spacing = 0;

    double gap(double standard) const { return !present ? 0 : sized ? spacing : standard; }
};

class Parser {
  public:
    Parser(const std::string& text, const std::map<std::string, double>& metrics,
           const std::map<std::string, std::shared_ptr<View>>& views)
        : text_(text), metrics_(metrics), views_(views) {}

    std::optional<std::vector<LayoutConstraintPtr>> run() {
        bool vertical = false;
        if (take("V:"))
            vertical = true;
        else
            take("H:");
        const LayoutAttribute low = vertical ? LayoutAttribute::top : LayoutAttribute::leading;
        const LayoutAttribute high = vertical ? LayoutAttribute::bottom : LayoutAttribute::trailing;
        const LayoutAttribute size = vertical ? LayoutAttribute::height : LayoutAttribute::width;

        std::vector<LayoutConstraintPtr> out;
        const bool leadingEdge = take("|");
        Connection pending;  // the connection before the next view
        if (leadingEdge) {
            if (!connection(pending))
                return std::nullopt;
        }
        std::shared_ptr<View> previous;
        bool first = true;
        while (peek() == '[') {
            auto element = view();
            if (!element)
                return std::nullopt;
            for (const auto& p : element->size)
                out.push_back(LayoutConstraint::make(element->view, size, p.relation, nullptr,
                                                     LayoutAttribute::notAnAttribute, 1,
                                                     p.constant));
            if (first && leadingEdge) {
                auto super = element->view->superview();
                if (!super)
                    return std::nullopt;
                const double gap = pending.gap(edgeSpacing);
                out.push_back(LayoutConstraint::make(element->view, low, LayoutRelation::equal,
                                                     super, low, 1, gap));
            } else if (previous) {
                const double gap = pending.gap(siblingSpacing);
                out.push_back(LayoutConstraint::make(element->view, low, LayoutRelation::equal,
                                                     previous, high, 1, gap));
            }
            first = false;
            previous = element->view;
            pending = {};
            if (!connection(pending))
                return std::nullopt;
        }
        if (!previous)
            return std::nullopt;
        if (take("|")) {
            auto super = previous->superview();
            if (!super)
                return std::nullopt;
            const double gap = pending.gap(edgeSpacing);
            out.push_back(
                LayoutConstraint::make(super, high, LayoutRelation::equal, previous, high, 1, gap));
        } else if (pending.present) {
            return std::nullopt;  // a connection to nothing
        }
        if (pos_ != text_.size())
            return std::nullopt;
        return out;
    }

  private:
    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    bool take(const char* token) {
        const std::string t(token);
        if (text_.compare(pos_, t.size(), t) != 0)
            return false;
        pos_ += t.size();
        return true;
    }
    std::string name() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }
    std::optional<double> number() {
        if (std::isdigit(static_cast<unsigned char>(peek()))) {
            const std::size_t start = pos_;
            while (std::isdigit(static_cast<unsigned char>(peek())) || peek() == '.') ++pos_;
            return std::strtod(text_.substr(start, pos_ - start).c_str(), nullptr);
        }
        const std::string metric = name();
        auto it = metrics_.find(metric);
        if (metric.empty() || it == metrics_.end())
            return std::nullopt;
        return it->second;
    }
    // "-N-", "-" or nothing. `value` stays empty for the standard spacing.
    bool connection(Connection& connection) {
        if (!take("-"))
            return true;
        connection.present = true;
        if (peek() == '[' || peek() == '|')
            return true;  // "-": standard spacing
        auto n = number();
        if (!n || !take("-"))
            return false;
        connection.spacing = *n;
        connection.sized = true;
        return true;
    }
    std::optional<Element> view() {
        take("[");
        auto it = views_.find(name());
        if (it == views_.end() || !it->second)
            return std::nullopt;
        Element element{it->second, {}};
        if (take("(")) {
            do {
                Predicate p;
                if (take("=="))
                    p.relation = LayoutRelation::equal;
                else if (take(">="))
                    p.relation = LayoutRelation::greaterThanOrEqual;
                else if (take("<="))
                    p.relation = LayoutRelation::lessThanOrEqual;
                auto n = number();
                if (!n)
                    return std::nullopt;
                p.constant = *n;
                element.size.push_back(p);
            } while (take(","));
            if (!take(")"))
                return std::nullopt;
        }
        if (!take("]"))
            return std::nullopt;
        return element;
    }

    const std::string& text_;
    const std::map<std::string, double>& metrics_;
    const std::map<std::string, std::shared_ptr<View>>& views_;
    std::size_t pos_ = 0;
};

}  // namespace

std::vector<LayoutConstraintPtr> VisualFormat::parse(
    const std::string& format, const std::map<std::string, double>& metrics,
    const std::map<std::string, std::shared_ptr<View>>& views) {
    std::string compact;
    for (char c : format)
        if (!std::isspace(static_cast<unsigned char>(c)))
            compact += c;
    if (auto constraints = Parser(compact, metrics, views).run())
        return *constraints;
    const std::string line = "Unable to parse the constraint format \"" + format + "\"\n";
    const std::string_view pieces[] = {line};
    StandardError::writeGathered(pieces);
    return {};
}

}  // namespace pindle::platform::ui

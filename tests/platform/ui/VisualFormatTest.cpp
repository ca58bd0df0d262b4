// The visual format language resolved to frames in a 375x667 window, and the formats that
// must give no constraints.
#include <gtest/gtest.h>

#include "platform/ui/View.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::platform::ui {
namespace {

TEST(VisualFormatTest, FormatsResolveToFramesInTheWindow) {
    struct Case {
        std::vector<std::string> formats;
        Rect expected;
    };
    const Case cases[] = {
        {{"V:|[v(==50)]", "H:|[v]|"}, Rect::make(0, 0, 375, 50)},
        {{"H:|[v]|", "V:|[v]|"}, Rect::make(0, 0, 375, 667)},
        {{"V:[v(80)]-30-|", "H:|-20-[v]-20-|"}, Rect::make(20, 557, 335, 80)},
        {{"H:|-[v]-|", "V:|-margin-[v(>=10,<=10)]"}, Rect::make(20, 12, 335, 10)},
    };
    for (const auto& c : cases) {
        auto window = Window::make(Rect::make(0, 0, 375, 667));
        auto v = View::make(Rect::make(1, 1, 1, 1));
        v->setTranslatesAutoresizingMaskIntoConstraints(false);
        window->addSubview(v);
        std::vector<LayoutConstraintPtr> all;
        for (const auto& format : c.formats) {
            auto made = LayoutConstraint::constraintsWithVisualFormat(format, 0, {{"margin", 12}},
                                                                      {{"v", v}});
            EXPECT_FALSE(made.empty()) << format;
            all.insert(all.end(), made.begin(), made.end());
        }
        LayoutConstraint::activate(all);
        window->layoutIfNeeded();
        EXPECT_EQ(v->frame(), c.expected) << c.formats[0] << " " << v->frame().description();
    }
}

TEST(VisualFormatTest, SiblingsAreSpacedAndBadFormatsGiveNothing) {
    auto window = Window::make(Rect::make(0, 0, 375, 667));
    auto a = View::make(), b = View::make();
    for (auto& v : {a, b}) {
        v->setTranslatesAutoresizingMaskIntoConstraints(false);
        window->addSubview(v);
    }
    const std::map<std::string, ViewPtr> views{{"a", a}, {"b", b}};
    auto made =
        LayoutConstraint::constraintsWithVisualFormat("H:|-10-[a(100)]-[b(50)]", 0, {}, views);
    auto vertical =
        LayoutConstraint::constraintsWithVisualFormat("V:|[a(20)][b(30)]", 0, {}, views);
    made.insert(made.end(), vertical.begin(), vertical.end());
    LayoutConstraint::activate(made);
    window->layoutIfNeeded();
    EXPECT_EQ(a->frame(), Rect::make(10, 0, 100, 20));
    EXPECT_EQ(b->frame(), Rect::make(118, 20, 50, 30));

    for (const char* bad : {"H:|[missing]|", "H:|[a", "H:|-x-[a]", "H:[a]-", "", "H:|[a(==)]"})
        EXPECT_TRUE(LayoutConstraint::constraintsWithVisualFormat(bad, 0, {}, views).empty())
            << bad;
    auto orphan = View::make();
    EXPECT_TRUE(
        LayoutConstraint::constraintsWithVisualFormat("H:|[o]|", 0, {}, {{"o", orphan}}).empty());
}

}  // namespace
}  // namespace pindle::platform::ui

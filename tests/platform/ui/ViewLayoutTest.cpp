// Layout: autoresizing when a superview changes size, and anchor constraints resolved by the
// layout pass, in a 375x667 window.
#include <gtest/gtest.h>

#include <thread>

#include "platform/dispatch/MainThread.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/View.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::platform::ui {
namespace {

using Mask = View::AutoresizingMask;

TEST(ViewLayoutTest, AutoresizingStretchesTheFlexibleParts) {
    struct Case {
        unsigned mask;
        Rect expected;
    };
    // A 100x100 superview grows to 200x150; the subview sits at (10, 20, 50, 40).
    const Case cases[] = {
        {Mask::none, Rect::make(10, 20, 50, 40)},
        {Mask::flexibleWidth | Mask::flexibleHeight, Rect::make(10, 20, 150, 90)},
        {Mask::flexibleLeftMargin | Mask::flexibleTopMargin, Rect::make(110, 70, 50, 40)},
        {Mask::flexibleRightMargin | Mask::flexibleBottomMargin, Rect::make(10, 20, 50, 40)},
        // Spread in proportion: left margin 10 and right margin 40 share 100 as 20 and 80.
        {Mask::flexibleLeftMargin | Mask::flexibleRightMargin, Rect::make(30, 20, 50, 40)},
    };
    for (const auto& c : cases) {
        auto parent = View::make(Rect::make(0, 0, 100, 100));
        auto child = View::make(Rect::make(10, 20, 50, 40));
        child->setAutoresizingMask(c.mask);
        parent->addSubview(child);
        parent->setFrame(Rect::make(0, 0, 200, 150));
        EXPECT_EQ(child->frame(), c.expected)
            << "mask " << c.mask << ": " << child->frame().description();
    }
}

TEST(ViewLayoutTest, AutoresizingIsOffWhenTheSuperviewSaysSoOrTheChildUsesConstraints) {
    auto parent = View::make(Rect::make(0, 0, 100, 100));
    auto child = View::make(Rect::make(0, 0, 100, 100));
    child->setAutoresizingMask(Mask::flexibleWidth);
    parent->addSubview(child);
    parent->setAutoresizesSubviews(false);
    parent->setFrame(Rect::make(0, 0, 300, 100));
    EXPECT_EQ(child->frame().width(), 100);

    parent->setAutoresizesSubviews(true);
    child->setTranslatesAutoresizingMaskIntoConstraints(false);
    parent->setFrame(Rect::make(0, 0, 200, 100));
    EXPECT_EQ(child->frame().width(), 100);
}

class ConstraintTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = Window::make(Rect::make(0, 0, 375, 667));
        root = View::make(Rect::make(0, 0, 375, 667));
        window->addSubview(root);
    }
    ViewPtr addChild(const ViewPtr& parent = nullptr) {
        auto child = View::make(Rect::make(1, 2, 3, 4));
        child->setTranslatesAutoresizingMaskIntoConstraints(false);
        (parent ? parent : root)->addSubview(child);
        return child;
    }

    std::shared_ptr<Window> window;
    ViewPtr root;
};

TEST_F(ConstraintTest, EdgesPinnedToTheSuperviewFollowItsSize) {
    auto child = addChild();
    root->addConstraints({child->topAnchor().constraint(root->topAnchor(), 10),
                          child->leadingAnchor().constraint(root->leadingAnchor(), 20),
                          child->trailingAnchor().constraint(root->trailingAnchor(), -20),
                          child->bottomAnchor().constraint(root->bottomAnchor(), -30)});
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame(), Rect::make(20, 10, 335, 627));

    root->setFrame(Rect::make(0, 0, 200, 300));
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame(), Rect::make(20, 10, 160, 260));
}

TEST_F(ConstraintTest, CentreAndSizeForms) {
    auto child = addChild();
    LayoutConstraint::activate({child->centerXAnchor().constraint(root->centerXAnchor()),
                                child->centerYAnchor().constraint(root->centerYAnchor(), 10),
                                child->widthAnchor().constraintEqualToConstant(100),
                                child->heightAnchor().constraint(root->heightAnchor(), 0.5, 0)});
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame(), Rect::make(137.5, 176.75, 100, 333.5));
}

TEST_F(ConstraintTest, SiblingsChainInOrderAndIntrinsicSizeFillsTheGap) {
    auto first = addChild();
    auto image = ImageView::make();
    image->setImage(Image::filled(40, 30, Image::Pixel{1, 2, 3, 255}));
    image->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->addSubview(image);
    LayoutConstraint::activate({first->leadingAnchor().constraint(root->leadingAnchor(), 20),
                                first->topAnchor().constraint(root->topAnchor()),
                                first->widthAnchor().constraintEqualToConstant(50),
                                first->heightAnchor().constraintEqualToConstant(50),
                                image->leadingAnchor().constraint(first->trailingAnchor(), 8),
                                image->topAnchor().constraint(first->bottomAnchor())});
    root->layoutIfNeeded();
    EXPECT_EQ(image->frame(), Rect::make(78, 50, 40, 30));
}

TEST_F(ConstraintTest, ConstantChangesAndDeactivationAreLaidOutAgain) {
    auto child = addChild();
    auto height = child->heightAnchor().constraintEqualToConstant(80);
    auto bottom = child->bottomAnchor().constraint(root->bottomAnchor(), -30);
    LayoutConstraint::activate({height, bottom,
                                child->leadingAnchor().constraint(root->leadingAnchor()),
                                child->trailingAnchor().constraint(root->trailingAnchor())});
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame(), Rect::make(0, 557, 375, 80));

    bottom->setConstant(-50);
    EXPECT_TRUE(root->needsLayout());
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame().minY(), 537);

    bottom->setActive(false);
    EXPECT_EQ(root->constraints().size(), 2u);  // the height is installed on the child
    EXPECT_EQ(child->constraints(), std::vector<LayoutConstraintPtr>{height});
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame().minY(), 537);  // an unpinned axis keeps its place
}

TEST_F(ConstraintTest, ContradictionKeepsTheFrame) {
    auto child = addChild();
    LayoutConstraint::activate({child->leadingAnchor().constraint(root->leadingAnchor()),
                                child->trailingAnchor().constraint(root->trailingAnchor()),
                                child->widthAnchor().constraintEqualToConstant(10)});
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame().minX(), 1);
    EXPECT_EQ(child->frame().width(), 3);
}

TEST_F(ConstraintTest, ConstraintsBetweenBranchesAreInstalledOnTheCommonAncestor) {
    auto left = addChild();
    auto inner = addChild(left);
    auto c = inner->widthAnchor().constraint(root->widthAnchor(), 0.5, 0);
    c->setActive(true);
    ASSERT_EQ(root->constraints().size(), 1u);
    EXPECT_TRUE(c->isActive());
    LayoutConstraint::activate({left->leadingAnchor().constraint(root->leadingAnchor(), 100),
                                inner->leadingAnchor().constraint(root->leadingAnchor(), 110)});
    root->layoutIfNeeded();
    EXPECT_EQ(inner->frame().width(), 187.5);
    EXPECT_EQ(inner->frame().minX(), 10);  // in its superview, which starts at 100
}

TEST_F(ConstraintTest, AWindowLaysOutOnceOnTheNextMainQueueTurn) {
    struct Counting : View {
        using View::View;
        int layouts = 0;
        void layoutSubviews() override {
            View::layoutSubviews();
            ++layouts;
        }
    };
    auto counting = std::make_shared<Counting>(Rect::zero());
    root->addSubview(counting);
    MainThread::drain();
    const int before = counting->layouts;
    counting->setNeedsLayout();
    counting->setNeedsLayout();
    root->setNeedsLayout();
    EXPECT_EQ(counting->layouts, before);
    MainThread::drain();
    EXPECT_EQ(counting->layouts, before + 1);
}

TEST(ViewTreeTest, KeyWindowSubviewOrderAndCoder) {
    auto window = Window::make(Rect::make(0, 0, 100, 100));
    EXPECT_TRUE(window->isHidden());
    window->makeKeyAndVisible();
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_FALSE(window->isHidden());

    auto a = View::make(), b = View::make(), c = View::make();
    window->addSubview(a);
    window->addSubview(b);
    window->addSubview(c);
    window->sendSubviewToBack(c);
    window->bringSubviewToFront(a);
    EXPECT_EQ(window->subviews(), (std::vector<ViewPtr>{c, b, a}));
    EXPECT_EQ(window->layer()->sublayers(),
              (std::vector<LayerPtr>{c->layer(), b->layer(), a->layer()}));
    EXPECT_EQ(a->window(), window);
    a->removeFromSuperview();
    EXPECT_EQ(a->window(), nullptr);

    std::vector<Value> seen;
    auto observation =
        a->observe("hidden", KVOOption::initial | KVOOption::newValue,
                   [&](const KVOChange& change) { seen.push_back(change.newValue); });
    a->setHidden(true);
    a->removeObservation(observation);
    a->setHidden(false);
    EXPECT_EQ(seen, (std::vector<Value>{false, true}));
    // A view cannot become its own ancestor.
    c->addSubview(window);
    EXPECT_EQ(window->superview(), nullptr);

    EXPECT_NE(
        View::make(Coder({{"frame", Coder::encodeRect(Rect::make(1, 2, 3, 4))}, {"hidden", true}})),
        nullptr);
    EXPECT_EQ(View::make(Coder(Dictionary{{"frame", Value("wide")}})), nullptr);
    EXPECT_EQ(View::make(Coder(Dictionary{{"hidden", Value(3.5)}})), nullptr);
    EXPECT_EQ(View::make(Coder({{"frame", Coder::encodeRect(Rect::make(1, 2, 3, 4))}}))->frame(),
              Rect::make(1, 2, 3, 4));
}

TEST(UIThreadCheckerTest, CountsOnlyChangesOffTheMainThread) {
    UIThreadChecker::reset();
    auto view = View::make();
    view->setAlpha(0.5);
    EXPECT_EQ(UIThreadChecker::offMainMutations(), 0u);
    std::thread([view] {
        (void)view->frame();  // reads are not counted
        view->setHidden(true);
    }).join();
    EXPECT_EQ(UIThreadChecker::offMainMutations(), 1u);
    EXPECT_EQ(UIThreadChecker::firstSites(), std::vector<std::string>{"Layer::setHidden"});
    UIThreadChecker::reset();
}

}  // namespace
}  // namespace pindle::platform::ui

// View controllers: the view made once and lazily, the order of the appearance callbacks
// for a root, its children and a presentation, storyboard scenes with their outlets,
// embed segues and presenting segues.
#include <gtest/gtest.h>

#include "platform/app/Application.hpp"
#include "platform/foundation/MethodRegistry.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/ui/Button.hpp"
#include "platform/ui/Storyboard.hpp"
#include "platform/ui/Window.hpp"
#include "support/VirtualTimeTest.hpp"

namespace pindle::platform::ui {
namespace {

class Recorder : public ViewController {
  public:
    Recorder(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}

    void viewDidLoad() override {
        view();  // asking for the view while it loads gives the one being loaded
        log_.push_back(name_ + ".load");
    }
    void viewWillAppear(bool) override { log_.push_back(name_ + ".willAppear"); }
    void viewDidAppear(bool) override { log_.push_back(name_ + ".didAppear"); }
    void viewWillDisappear(bool) override { log_.push_back(name_ + ".willDisappear"); }
    void viewDidDisappear(bool) override { log_.push_back(name_ + ".didDisappear"); }
    void didReceiveMemoryWarning() override { log_.push_back(name_ + ".memoryWarning"); }
    void prepare(const StoryboardSegue& segue, const ObjectPtr&) override {
        log_.push_back(name_ + ".prepare " + segue.identifier);
        lastDestination = segue.destination;
    }

    std::weak_ptr<Button> button;
    ViewControllerPtr lastDestination;

  private:
    std::string name_;
    std::vector<std::string>& log_;
};

class ViewControllerTest : public testing::VirtualTimeTest {
  protected:
    std::shared_ptr<Recorder> make(const std::string& name) {
        return std::make_shared<Recorder>(name, log);
    }
    std::vector<std::string> log;
    std::shared_ptr<Window> window = Window::make(Rect::make(0, 0, 375, 667));
};

TEST_F(ViewControllerTest, TheViewLoadsOnceAndAppearanceReachesChildrenAndPresentations) {
    auto root = make("root");
    EXPECT_FALSE(root->isViewLoaded());
    auto child = make("child");
    root->addChild(child);
    EXPECT_EQ(root->children(), std::vector<ViewControllerPtr>{child});
    EXPECT_EQ(child->parent(), root);
    EXPECT_TRUE(log.empty());

    window->setRootViewController(root);
    window->makeKeyAndVisible();
    EXPECT_EQ(root->view()->frame(), window->bounds());
    EXPECT_EQ(log,
              (std::vector<std::string>{"root.load", "root.willAppear", "child.load",
                                        "child.willAppear", "root.didAppear", "child.didAppear"}));

    log.clear();
    auto modal = make("modal");
    bool presented = false;
    root->present(modal, true, [&] { presented = true; });
    EXPECT_EQ(root->presentedViewController(), modal);
    EXPECT_EQ(modal->presentingViewController(), root);
    EXPECT_EQ(log,
              (std::vector<std::string>{"modal.load", "root.willDisappear", "child.willDisappear",
                                        "modal.willAppear", "modal.didAppear", "root.didDisappear",
                                        "child.didDisappear"}));
    advance(0.2);
    EXPECT_FALSE(presented);
    advance(0.1);
    EXPECT_TRUE(presented);

    log.clear();
    modal->dismiss(false);  // the presented controller dismisses itself through its presenter
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"modal.willDisappear", "modal.didDisappear",
                                             "root.willAppear", "child.willAppear",
                                             "root.didAppear", "child.didAppear"}));

    log.clear();
    auto late = make("late");  // added to an appeared parent: appears at once
    root->addChild(late);
    EXPECT_EQ(log, (std::vector<std::string>{"late.load", "late.willAppear", "late.didAppear"}));
    late->removeFromParent();
    EXPECT_EQ(root->children(), std::vector<ViewControllerPtr>{child});

    log.clear();
    auto unloaded = make("unloaded");  // hears memory warnings only once its view is loaded
    NotificationCenter::defaultCenter().post(Application::didReceiveMemoryWarningNotification,
                                             nullptr);
    std::sort(log.begin(), log.end());
    EXPECT_EQ(log, (std::vector<std::string>{"child.memoryWarning", "late.memoryWarning",
                                             "modal.memoryWarning", "root.memoryWarning"}));
}

TEST_F(ViewControllerTest, ScenesConnectOutletsAndRunTheirSegues) {
    auto bundle = ResourceBundle::registerBundle("test.controllers");
    Storyboard::Scene panel{[&] {
                                auto c = make("panel");
                                c->setViewFactory([c = c.get()](ViewController&) {
                                    auto root = View::make(Rect::make(0, 0, 100, 80));
                                    auto button = Button::make(Rect::make(0, 0, 40, 40));
                                    root->addSubview(button);
                                    c->button = button;
                                    return root;
                                });
                                return c;
                            },
                            {},
                            {}};
    Storyboard::Scene host{
        [&] { return make("host"); }, {{"EmbedPanel", "panel"}}, {{"ShowPanel", "panel"}}};
    Storyboard::registerStoryboard("Main", "test.controllers", {{"panel", panel}, {"host", host}});

    EXPECT_EQ(Storyboard::named("Main", nullptr), nullptr);
    auto board = Storyboard::named("Main", bundle);
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(board->instantiateViewController("nothing"), nullptr);

    auto scene = std::dynamic_pointer_cast<Recorder>(board->instantiateViewController("panel"));
    ASSERT_NE(scene, nullptr);
    EXPECT_TRUE(scene->button.expired());  // outlets connect when the view loads
    scene->view();
    EXPECT_NE(scene->button.lock(), nullptr);
    EXPECT_EQ(scene->storyboard(), board);

    log.clear();
    auto container = std::dynamic_pointer_cast<Recorder>(board->instantiateViewController("host"));
    container->view();
    EXPECT_EQ(log, (std::vector<std::string>{"host.prepare EmbedPanel", "host.load"}));
    ASSERT_EQ(container->children().size(), 1u);
    EXPECT_EQ(container->children()[0], container->lastDestination);

    window->setRootViewController(container);
    log.clear();
    container->performSegue("ShowPanel", nullptr);
    container->performSegue("Unknown", nullptr);
    EXPECT_EQ(log.front(), "host.prepare ShowPanel");
    EXPECT_EQ(container->presentedViewController(), container->lastDestination);
}

TEST_F(ViewControllerTest, TheWillAppearStepCanBeExchangedThroughItsSlot) {
    ViewController::registerAppearanceSlots();
    auto& registry = MethodRegistry::shared();
    const char* helper = "ViewControllerTestHelper";
    // The helper's replacement runs in place of the will-appear step and calls the exchanged-
    // out original through its own slot name.
    registry.registerSlot(
        helper, "helper_viewWillAppear:",
        ViewController::WillAppearImplementation([&](ViewController& controller, bool animated) {
            log.push_back("helper");
            auto original = registry.implementation<ViewController::WillAppearImplementation>(
                helper, "helper_viewWillAppear:");
            ASSERT_TRUE(original);
            (*original)(controller, animated);
        }));
    ASSERT_TRUE(registry.exchange(ViewController::slotClassName, ViewController::willAppearSelector,
                                  helper, "helper_viewWillAppear:"));
    // Only registered slots exchange.
    EXPECT_FALSE(registry.exchange(ViewController::slotClassName, "viewDidAppear:", helper,
                                   "helper_viewWillAppear:"));

    window->setRootViewController(make("root"));
    // Undo before asserting so a failure leaves the shared registry as other tests expect.
    ASSERT_TRUE(registry.exchange(ViewController::slotClassName, ViewController::willAppearSelector,
                                  helper, "helper_viewWillAppear:"));
    EXPECT_EQ(log, (std::vector<std::string>{"root.load", "helper", "root.willAppear",
                                             "root.didAppear"}));
}

}  // namespace
}  // namespace pindle::platform::ui

#include "platform/ui/ViewController.hpp"

#include <algorithm>

#include "platform/app/Application.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/MethodRegistry.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/Storyboard.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::platform::ui {
namespace {

// The screen the headless interface stands for.
constexpr Rect screenBounds = Rect::make(0, 0, 375, 667);

void completeLater(bool animated, std::function<void()> completion) {
    if (!completion)
        return;
    if (animated)
        DispatchQueue::main()->asyncAfter(ViewController::transitionDuration,
                                          std::move(completion));
    else
        DispatchQueue::main()->async(std::move(completion));
}

}  // namespace

ViewController::ViewController(std::string nibName, ResourceBundlePtr bundle)
    : nibName_(std::move(nibName)), nibBundle_(std::move(bundle)) {}

ViewController::ViewController(const Coder&) {}

ViewController::~ViewController() = default;

ViewControllerPtr ViewController::self() {
    return std::static_pointer_cast<ViewController>(shared_from_this());
}

ViewPtr ViewController::view() {
    {
        std::lock_guard lock(mutex_);
        if (view_)
            return view_;
    }
    loadViewIfNeeded();
    std::lock_guard lock(mutex_);
    return view_;
}

bool ViewController::isViewLoaded() const {
    std::lock_guard lock(mutex_);
    return view_ != nullptr;
}

void ViewController::loadViewIfNeeded() {
    std::lock_guard load(loadMutex_);
    if (isViewLoaded())
        return;
    loadView();
    {
        std::lock_guard lock(mutex_);
        if (!view_)
            view_ = View::make(screenBounds);
    }
    runEmbedSegues();
    auto registration = NotificationCenter::defaultCenter().addObserverForName(
        Application::didReceiveMemoryWarningNotification, nullptr, nullptr,
        weakly(self(), [](ViewController& controller, const Notification&) {
            controller.didReceiveMemoryWarning();
        }));
    {
        std::lock_guard lock(mutex_);
        memoryWarning_ = NotificationCenter::ScopedRegistration(std::move(registration));
    }
    viewDidLoad();
}

void ViewController::loadView() {
    std::function<ViewPtr(ViewController&)> factory;
    {
        std::lock_guard lock(mutex_);
        factory = viewFactory_;
    }
    ViewPtr made = factory ? factory(*this) : View::make(screenBounds);
    std::lock_guard lock(mutex_);
    view_ = std::move(made);
}

void ViewController::setView(ViewPtr view) {
    std::lock_guard lock(mutex_);
    view_ = std::move(view);
}

void ViewController::setViewFactory(std::function<ViewPtr(ViewController&)> factory) {
    std::lock_guard lock(mutex_);
    viewFactory_ = std::move(factory);
}

std::shared_ptr<Storyboard> ViewController::storyboard() const {
    std::lock_guard lock(mutex_);
    return storyboard_.lock();
}

void ViewController::setStoryboard(std::weak_ptr<Storyboard> storyboard,
                                   std::vector<EmbedSegue> embeds,
                                   std::vector<std::pair<std::string, std::string>> segues) {
    std::lock_guard lock(mutex_);
    storyboard_ = std::move(storyboard);
    embeds_ = std::move(embeds);
    segues_ = std::move(segues);
}

void ViewController::runEmbedSegues() {
    std::vector<EmbedSegue> embeds;
    StoryboardPtr board;
    {
        std::lock_guard lock(mutex_);
        embeds = embeds_;
        board = storyboard_.lock();
    }
    if (!board)
        return;
    for (const auto& embed : embeds) {
        auto destination = board->instantiateViewController(embed.destinationScene);
        if (!destination)
            continue;
        prepare(StoryboardSegue{embed.identifier, self(), destination}, self());
        addChild(destination);
    }
}

void ViewController::addChild(const ViewControllerPtr& child) {
    if (!child || child.get() == this)
        return;
    child->removeFromParent();
    child->willMove(self());
    bool appeared;
    {
        std::lock_guard lock(mutex_);
        children_.push_back(child);
        appeared = appeared_;
    }
    {
        std::lock_guard lock(child->mutex_);
        child->parent_ = self();
    }
    if (appeared) {
        child->beginAppearanceTransition(true, false);
        child->endAppearanceTransition(true, false);
    }
    child->didMove(self());
}

void ViewController::removeFromParent() {
    ViewControllerPtr parent;
    {
        std::lock_guard lock(mutex_);
        parent = parent_.lock();
        parent_.reset();
    }
    if (!parent)
        return;
    willMove(nullptr);
    {
        std::lock_guard lock(parent->mutex_);
        auto& list = parent->children_;
        list.erase(std::remove(list.begin(), list.end(), self()), list.end());
    }
    didMove(nullptr);
}

std::vector<ViewControllerPtr> ViewController::children() const {
    std::lock_guard lock(mutex_);
    return children_;
}

ViewControllerPtr ViewController::parent() const {
    std::lock_guard lock(mutex_);
    return parent_.lock();
}

void ViewController::registerAppearanceSlots() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& registry = MethodRegistry::shared();
        if (!registry.hasSlot(slotClassName, willAppearSelector))
            registry.registerSlot(
                slotClassName, willAppearSelector,
                WillAppearImplementation([](ViewController& controller, bool animated) {
                    controller.viewWillAppear(animated);
                }));
    });
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
    if (appearing) {
        loadViewIfNeeded();
        registerAppearanceSlots();
        const auto willAppear = MethodRegistry::shared().implementation<WillAppearImplementation>(
            slotClassName, willAppearSelector);
        if (willAppear && *willAppear)
            (*willAppear)(*this, animated);
        else
            viewWillAppear(animated);
    } else {
        viewWillDisappear(animated);
    }
    for (const auto& child : children()) child->beginAppearanceTransition(appearing, animated);
}

void ViewController::endAppearanceTransition(bool appearing, bool animated) {
    {
        std::lock_guard lock(mutex_);
        appeared_ = appearing;
    }
    if (appearing)
        viewDidAppear(animated);
    else
        viewDidDisappear(animated);
    for (const auto& child : children()) child->endAppearanceTransition(appearing, animated);
}

bool ViewController::isAppeared() const {
    std::lock_guard lock(mutex_);
    return appeared_;
}

void ViewController::present(const ViewControllerPtr& controller, bool animated,
                             std::function<void()> completion) {
    if (!controller)
        return;
    {
        std::lock_guard lock(mutex_);
        if (presented_)
            return;  // one presentation at a time, as on the phone platform
        presented_ = controller;
    }
    {
        std::lock_guard lock(controller->mutex_);
        controller->presenting_ = self();
    }
    const bool covers = controller->modalPresentationStyle() == ModalPresentationStyle::fullScreen;
    ViewPtr host = view();
    if (auto window = host->window())
        host = window;
    ViewPtr shown = controller->view();
    shown->setFrame(host->bounds());
    shown->setAutoresizingMask(View::flexibleWidth | View::flexibleHeight);
    if (covers && isAppeared())
        beginAppearanceTransition(false, animated);
    controller->beginAppearanceTransition(true, animated);
    host->addSubview(shown);
    controller->endAppearanceTransition(true, animated);
    if (covers && isAppeared())
        endAppearanceTransition(false, animated);
    completeLater(animated, std::move(completion));
}

void ViewController::dismiss(bool animated, std::function<void()> completion) {
    ViewControllerPtr presented;
    {
        std::lock_guard lock(mutex_);
        presented = presented_;
    }
    if (!presented) {
        if (auto presenter = presentingViewController())
            presenter->dismiss(animated, std::move(completion));
        return;
    }
    const bool covered = presented->modalPresentationStyle() == ModalPresentationStyle::fullScreen;
    presented->beginAppearanceTransition(false, animated);
    if (auto shown = presented->isViewLoaded() ? presented->view() : nullptr)
        shown->removeFromSuperview();
    presented->endAppearanceTransition(false, animated);
    {
        std::lock_guard lock(presented->mutex_);
        presented->presenting_.reset();
    }
    {
        std::lock_guard lock(mutex_);
        presented_.reset();
    }
    if (covered && isViewLoaded() && view()->window()) {
        beginAppearanceTransition(true, animated);
        endAppearanceTransition(true, animated);
    }
    completeLater(animated, std::move(completion));
}

ViewControllerPtr ViewController::presentedViewController() const {
    std::lock_guard lock(mutex_);
    return presented_;
}

ViewControllerPtr ViewController::presentingViewController() const {
    std::lock_guard lock(mutex_);
    return presenting_.lock();
}

ViewController::ModalPresentationStyle ViewController::modalPresentationStyle() const {
    std::lock_guard lock(mutex_);
    return presentationStyle_;
}

void ViewController::setModalPresentationStyle(ModalPresentationStyle style) {
    std::lock_guard lock(mutex_);
    presentationStyle_ = style;
}

bool ViewController::definesPresentationContext() const {
    std::lock_guard lock(mutex_);
    return definesPresentationContext_;
}

void ViewController::setDefinesPresentationContext(bool defines) {
    std::lock_guard lock(mutex_);
    definesPresentationContext_ = defines;
}

bool ViewController::providesPresentationContextTransitionStyle() const {
    std::lock_guard lock(mutex_);
    return providesTransitionStyle_;
}

void ViewController::setProvidesPresentationContextTransitionStyle(bool provides) {
    std::lock_guard lock(mutex_);
    providesTransitionStyle_ = provides;
}

void ViewController::performSegue(const std::string& identifier, const ObjectPtr& sender) {
    StoryboardPtr board;
    std::string destinationScene;
    {
        std::lock_guard lock(mutex_);
        board = storyboard_.lock();
        for (const auto& [segue, destination] : segues_)
            if (segue == identifier)
                destinationScene = destination;
    }
    if (!board || destinationScene.empty())
        return;
    auto destination = board->instantiateViewController(destinationScene);
    if (!destination)
        return;
    prepare(StoryboardSegue{identifier, self(), destination}, sender);
    present(destination, true);
}

}  // namespace pindle::platform::ui

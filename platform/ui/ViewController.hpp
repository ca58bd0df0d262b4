// ViewController: manages one view tree: it makes the view lazily (loadView, then
// viewDidLoad, exactly once and synchronously on the first view() call), hears when the
// view appears and disappears, holds child controllers, presents other controllers and
// runs storyboard segues.
//
// Appearance: viewWillAppear/viewDidAppear (and the disappear pair) are sent when the
// controller becomes or stops being a window's root, when it is presented or dismissed,
// and are forwarded to its children; a child added to an appeared parent appears at once.
//
// The will-appear step is dispatched through the MethodRegistry slot ("UIViewController",
// "viewWillAppear:"), a WillAppearImplementation that by default calls viewWillAppear. It is
// the one step of a controller whose implementation can be exchanged: a helper registers its
// own slot and exchanges the two, and calls the exchanged-out one through its own slot name.
//
// Controllers built by a storyboard scene get their view from the scene (setViewFactory),
// and the scene's embed segues run after that view is made and before viewDidLoad.
//
// Controllers are key-value observable; subclasses announce their own keys.
//
// Thread-safety: all operations are safe from any thread; loading is serialised so the view
// is made once. The overridable hooks run on the calling thread (the main thread for
// interface work); presentation completions run on the main queue.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files/ResourceBundle.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/ui/StoryboardSegue.hpp"
#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class Storyboard;
class ViewController;
using ViewControllerPtr = std::shared_ptr<ViewController>;

class ViewController : public KeyValueObservable {
  public:
    enum class ModalPresentationStyle {
        fullScreen = 0,
        overFullScreen = 5,
        overCurrentContext = 6
    };
    // The time an animated presentation or dismissal takes, on Clock.
    static constexpr double transitionDuration = 0.3;

    // The nib name and bundle are kept for subclasses; views come from loadView.
    explicit ViewController(std::string nibName = {}, ResourceBundlePtr bundle = nullptr);
    explicit ViewController(const Coder& coder);
    ~ViewController() override;

    const std::string& nibName() const { return nibName_; }
    const ResourceBundlePtr& nibBundle() const { return nibBundle_; }

    // Loads the view on first use.
    ViewPtr view();
    bool isViewLoaded() const;
    void loadViewIfNeeded();
    // Replaces the view without loading (null unloads it).
    void setView(ViewPtr view);
    // What loadView() builds the view with (storyboard scenes install it).
    void setViewFactory(std::function<ViewPtr(ViewController&)> factory);

    std::shared_ptr<Storyboard> storyboard() const;

    // Children.
    void addChild(const ViewControllerPtr& child);
    void removeFromParent();
    std::vector<ViewControllerPtr> children() const;
    ViewControllerPtr parent() const;
    virtual void willMove(const ViewControllerPtr&) {}
    virtual void didMove(const ViewControllerPtr&) {}

    // Presentation: the presented controller's view covers the presenter's window (or the
    // presenter's view outside a window). The completion runs on the main queue when the
    // transition ends (after transitionDuration when animated).
    void present(const ViewControllerPtr& controller, bool animated,
                 std::function<void()> completion = {});
    // Dismisses what this controller presented, or this controller when it was presented.
    void dismiss(bool animated, std::function<void()> completion = {});
    ViewControllerPtr presentedViewController() const;
    ViewControllerPtr presentingViewController() const;
    ModalPresentationStyle modalPresentationStyle() const;
    void setModalPresentationStyle(ModalPresentationStyle style);
    bool definesPresentationContext() const;
    void setDefinesPresentationContext(bool defines);
    bool providesPresentationContextTransitionStyle() const;
    void setProvidesPresentationContextTransitionStyle(bool provides);

    // Runs the segue `identifier` that this controller's storyboard scene declares:
    // instantiates its destination, lets prepare() see it, then presents it. Unknown
    // identifiers do nothing.
    void performSegue(const std::string& identifier, const ObjectPtr& sender);
    virtual void prepare(const StoryboardSegue&, const ObjectPtr&) {}

    virtual bool prefersStatusBarHidden() const { return false; }
    // Sent when the application posts its memory warning, once the view has loaded.
    virtual void didReceiveMemoryWarning() {}

    virtual void viewWillAppear(bool) {}
    // The type of the will-appear slot's implementation, and the slot's names.
    using WillAppearImplementation = std::function<void(ViewController&, bool animated)>;
    static constexpr const char* slotClassName = "UIViewController";
    static constexpr const char* willAppearSelector = "viewWillAppear:";
    // Registers the default will-appear slot unless it is registered already; appearance
    // transitions do it on first use, a helper that exchanges it calls it first.
    static void registerAppearanceSlots();
    virtual void viewDidAppear(bool) {}
    virtual void viewWillDisappear(bool) {}
    virtual void viewDidDisappear(bool) {}

    // Sends the appearance pair to this controller and its children (windows and
    // presentation call these; containers may too).
    void beginAppearanceTransition(bool appearing, bool animated);
    void endAppearanceTransition(bool appearing, bool animated);
    bool isAppeared() const;

  protected:
    // Makes the view: the factory's, or a plain screen-sized view.
    virtual void loadView();
    virtual void viewDidLoad() {}

  private:
    friend class Storyboard;
    struct EmbedSegue {
        std::string identifier;
        std::string destinationScene;
    };

    void setStoryboard(std::weak_ptr<Storyboard> storyboard, std::vector<EmbedSegue> embeds,
                       std::vector<std::pair<std::string, std::string>> segues);
    void runEmbedSegues();
    ViewControllerPtr self();

    const std::string nibName_;
    const ResourceBundlePtr nibBundle_;

    // Held while the view loads, so that the view is made once even when two threads ask;
    // recursive because viewDidLoad may ask for the view it is loading.
    std::recursive_mutex loadMutex_;

    mutable std::mutex mutex_;
    ViewPtr view_;                                             // guarded by mutex_
    std::function<ViewPtr(ViewController&)> viewFactory_;      // guarded by mutex_
    std::weak_ptr<Storyboard> storyboard_;                     // guarded by mutex_
    std::vector<EmbedSegue> embeds_;                           // guarded by mutex_
    std::vector<std::pair<std::string, std::string>> segues_;  // guarded by mutex_
    std::vector<ViewControllerPtr> children_;                  // guarded by mutex_
    std::weak_ptr<ViewController> parent_;                     // guarded by mutex_
    ViewControllerPtr presented_;                              // guarded by mutex_
    std::weak_ptr<ViewController> presenting_;                 // guarded by mutex_
    ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::fullScreen;  // mutex_
    bool definesPresentationContext_ = false;               // guarded by mutex_
    bool providesTransitionStyle_ = false;                  // guarded by mutex_
    bool appeared_ = false;                                 // guarded by mutex_
    NotificationCenter::ScopedRegistration memoryWarning_;  // guarded by mutex_
};

}  // namespace pindle::platform::ui

// Storyboard: a registry of named scenes standing in for the phone platform's interface
// files. A storyboard is registered under its name and the identifier of the bundle that
// ships it; each scene is built in code by a factory that makes the controller and installs
// the view factory that makes its views and connects its outlets and actions. A scene may
// declare embed segues (run when its view loads: the destination scene becomes a child,
// after the source's prepare() has seen it) and presenting segues (performSegue).
//
// Thread-safety: all operations are safe from any thread. Factories run on the calling
// thread with no lock held.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/files/ResourceBundle.hpp"
#include "platform/ui/ViewController.hpp"

namespace pindle::platform::ui {

class Storyboard;
using StoryboardPtr = std::shared_ptr<Storyboard>;

class Storyboard : public Object {
  public:
    struct Scene {
        std::function<ViewControllerPtr()> make;
        // Identifier -> destination scene.
        std::vector<std::pair<std::string, std::string>> embedSegues;
        std::vector<std::pair<std::string, std::string>> segues;
    };

    // Registers (or replaces) the storyboard `name` of the bundle `bundleIdentifier`.
    static void registerStoryboard(const std::string& name, const std::string& bundleIdentifier,
                                   std::map<std::string, Scene> scenes);
    // Null when nothing is registered under that name for that bundle (null bundle: the
    // main bundle, registered with an empty identifier).
    static StoryboardPtr named(const std::string& name, const ResourceBundlePtr& bundle);

    Storyboard(std::string name, std::map<std::string, Scene> scenes);

    const std::string& name() const { return name_; }
    // A new controller of the scene; null for an unknown scene or a failing factory.
    ViewControllerPtr instantiateViewController(const std::string& identifier);

  private:
    const std::string name_;
    const std::map<std::string, Scene> scenes_;
};

}  // namespace pindle::platform::ui

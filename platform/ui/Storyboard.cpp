#include "platform/ui/Storyboard.hpp"

#include <mutex>

namespace pindle::platform::ui {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::pair<std::string, std::string>, StoryboardPtr> storyboards;  // guarded
};

Registry& registry() {
    static Registry* instance = new Registry;  // never destroyed: libraries register at load
    return *instance;
}

}  // namespace

void Storyboard::registerStoryboard(const std::string& name, const std::string& bundleIdentifier,
                                    std::map<std::string, Scene> scenes) {
    auto storyboard = std::make_shared<Storyboard>(name, std::move(scenes));
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.storyboards[{bundleIdentifier, name}] = std::move(storyboard);
}

StoryboardPtr Storyboard::named(const std::string& name, const ResourceBundlePtr& bundle) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.storyboards.find({bundle ? bundle->identifier() : std::string(), name});
    return it == r.storyboards.end() ? nullptr : it->second;
}

Storyboard::Storyboard(std::string name, std::map<std::string, Scene> scenes)
    : name_(std::move(name)), scenes_(std::move(scenes)) {}

ViewControllerPtr Storyboard::instantiateViewController(const std::string& identifier) {
    auto it = scenes_.find(identifier);
    if (it == scenes_.end() || !it->second.make)
        return nullptr;
    auto controller = it->second.make();
    if (!controller)
        return nullptr;
    std::vector<ViewController::EmbedSegue> embeds;
    for (const auto& [segue, destination] : it->second.embedSegues)
        embeds.push_back({segue, destination});
    controller->setStoryboard(std::static_pointer_cast<Storyboard>(shared_from_this()),
                              std::move(embeds), it->second.segues);
    return controller;
}

}  // namespace pindle::platform::ui

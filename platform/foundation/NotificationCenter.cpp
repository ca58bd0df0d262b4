#include "platform/foundation/NotificationCenter.hpp"

#include <algorithm>

namespace pindle::platform {

struct NotificationCenter::State {
    std::mutex mutex;
    std::vector<RegistrationPtr> registrations;  // guarded by mutex, in registration order

    // Marks the registrations `matches` selects as removed and drops them.
    template <class Predicate>
    void removeIf(Predicate matches) {
        std::lock_guard lock(mutex);
        auto removed = std::remove_if(registrations.begin(), registrations.end(),
                                      [&](const RegistrationPtr& r) {
                                          if (!matches(*r))
                                              return false;
                                          r->removed_.store(true);
                                          return true;
                                      });
        registrations.erase(removed, registrations.end());
    }
};

void NotificationCenter::Registration::remove() {
    removed_.store(true);
    if (auto center = center_.lock()) {
        center->removeIf([this](const Registration& r) { return &r == this; });
    }
}

NotificationCenter::ScopedRegistration& NotificationCenter::ScopedRegistration::operator=(
    ScopedRegistration&& other) noexcept {
    if (this != &other) {
        reset();
        registration_ = std::move(other.registration_);
    }
    return *this;
}

void NotificationCenter::ScopedRegistration::reset() {
    if (registration_)
        registration_->remove();
    registration_.reset();
}

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter;
    return *center;
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() {
    // Registrations outliving the center must read as removed.
    state_->removeIf([](const Registration&) { return true; });
}

NotificationCenter::RegistrationPtr NotificationCenter::addObserverForName(
    std::optional<std::string> name, const Object* sender, std::shared_ptr<Executor> executor,
    Block block) {
    return add(nullptr, std::move(name), sender, std::move(executor), std::move(block));
}

NotificationCenter::RegistrationPtr NotificationCenter::addObserver(const void* owner,
                                                                    std::optional<std::string> name,
                                                                    const Object* sender,
                                                                    Block block) {
    return add(owner, std::move(name), sender, nullptr, std::move(block));
}

NotificationCenter::RegistrationPtr NotificationCenter::add(const void* owner,
                                                            std::optional<std::string> name,
                                                            const Object* sender,
                                                            std::shared_ptr<Executor> executor,
                                                            Block block) {
    // The constructor is private to the center, so make_shared cannot reach it.
    auto registration = std::make_shared<Registration>(Registration::Private{});
    registration->center_ = state_;
    registration->owner_ = owner;
    registration->name_ = std::move(name);
    registration->sender_ = sender;
    registration->executor_ = std::move(executor);
    registration->block_ = std::move(block);
    std::lock_guard lock(state_->mutex);
    state_->registrations.push_back(registration);
    return registration;
}

void NotificationCenter::removeObserver(const RegistrationPtr& registration) {
    if (!registration)
        return;
    registration->removed_.store(true);
    state_->removeIf([&](const Registration& r) { return &r == registration.get(); });
}

void NotificationCenter::removeObserver(const void* owner) {
    if (!owner)
        return;
    state_->removeIf([owner](const Registration& r) { return r.owner_ == owner; });
}

void NotificationCenter::removeObserver(const void* owner, const std::string& name) {
    if (!owner)
        return;
    state_->removeIf(
        [&](const Registration& r) { return r.owner_ == owner && r.name_ && *r.name_ == name; });
}

void NotificationCenter::post(std::string name, Value object, Dictionary userInfo) {
    post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
    const Object* postedBy = notification.object.asObject().get();
    std::vector<RegistrationPtr> matching;
    {
        std::lock_guard lock(state_->mutex);
        for (const RegistrationPtr& r : state_->registrations) {
            if (r->name_ && *r->name_ != notification.name)
                continue;
            if (r->sender_ && r->sender_ != postedBy)
                continue;
            matching.push_back(r);
        }
    }
    for (const RegistrationPtr& r : matching) {
        if (r->removed_.load())
            continue;
        if (r->executor_) {
            r->executor_->async([r, notification] {
                if (!r->removed_.load())
                    r->block_(notification);
            });
        } else {
            r->block_(notification);
        }
    }
}

}  // namespace pindle::platform

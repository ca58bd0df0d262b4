// NotificationCenter: broadcasts named notifications to the observers registered for them.
//
// post() delivers synchronously: every matching observer registered when the post starts
// is called on the posting thread, in registration order, before post() returns, except
// block observers registered with an Executor, whose block is handed to that executor
// (post() does not wait for it). An observer matches by name (or observes every name) and,
// when it gives a sender, only notifications whose object is a reference to that very
// Object.
//
// Observers may post, add and remove observers from inside a delivery: the center calls
// them from a snapshot taken at the start of the post and never holds its lock while
// calling out. An observer removed during a post, before its turn, is not called; an
// executor-delivered block whose registration is removed before the block runs does not
// run. A post already running on another thread may still call an observer that is being
// removed concurrently.
//
// Registrations stay until removed: by the returned Registration (remove(), or
// removeObserver()), by the owner identity given at registration, or by the
// ScopedRegistration RAII holder. Dropping the returned pointer does not remove anything.
//
// Thread-safety: all operations are safe from any thread. Observers are called on the
// posting thread, or on their executor.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Executor.hpp"
#include "platform/foundation/Notification.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::platform {

class NotificationCenter {
    struct State;

  public:
    using Block = std::function<void(const Notification&)>;

    // One observer's registration; the token returned when registering.
    class Registration final : public Object {
      public:
        // Removes this registration from its center (nothing when already removed or when
        // the center is gone).
        void remove();
        bool isRemoved() const { return removed_.load(); }

      private:
        friend class NotificationCenter;
        struct Private {
            explicit Private() = default;
        };

      public:
        explicit Registration(Private) {}

      private:
        std::weak_ptr<State> center_;
        const void* owner_ = nullptr;
        std::optional<std::string> name_;
        const Object* sender_ = nullptr;
        std::shared_ptr<Executor> executor_;
        Block block_;
        std::atomic<bool> removed_{false};
    };
    using RegistrationPtr = std::shared_ptr<Registration>;

    // Holds a registration and removes it when destroyed.
    class ScopedRegistration {
      public:
        ScopedRegistration() = default;
        explicit ScopedRegistration(RegistrationPtr registration)
            : registration_(std::move(registration)) {}
        ScopedRegistration(ScopedRegistration&& other) noexcept = default;
        ScopedRegistration& operator=(ScopedRegistration&& other) noexcept;
        ~ScopedRegistration() { reset(); }

        void reset();
        const RegistrationPtr& get() const { return registration_; }

      private:
        RegistrationPtr registration_;
    };

    // The process-wide center (created on first use, never destroyed).
    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Registers `block` for notifications named `name` (every name when nothing) from
    // `sender` (any object when null). With an executor, the block runs there; without
    // one, on the posting thread.
    // REQUIRES: block is callable.
    RegistrationPtr addObserverForName(std::optional<std::string> name, const Object* sender,
                                       std::shared_ptr<Executor> executor, Block block);

    // Registers `block` on behalf of `owner`, an identity that removeObserver(owner...)
    // later uses to remove all of the owner's registrations at once. Delivery is on the
    // posting thread. Pass std::nullopt, not nullptr, to observe every name.
    // REQUIRES: owner is not null; block is callable.
    RegistrationPtr addObserver(const void* owner, std::optional<std::string> name,
                                const Object* sender, Block block);
    RegistrationPtr addObserver(const void* owner, std::nullptr_t, const Object* sender,
                                Block block) = delete;

    void removeObserver(const RegistrationPtr& registration);
    // Removes every registration of `owner`.
    void removeObserver(const void* owner);
    // Removes `owner`'s registrations for the notification name `name` (registrations for
    // every name stay).
    void removeObserver(const void* owner, const std::string& name);

    void post(const Notification& notification);
    void post(std::string name, Value object = {}, Dictionary userInfo = {});

  private:
    RegistrationPtr add(const void* owner, std::optional<std::string> name, const Object* sender,
                        std::shared_ptr<Executor> executor, Block block);

    std::shared_ptr<State> state_;
};

}  // namespace pindle::platform

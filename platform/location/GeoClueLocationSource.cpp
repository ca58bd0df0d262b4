#include "platform/location/GeoClueLocationSource.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/location/LocationManager.hpp"
#include "platform/location/private/DBusConnection.hpp"
#include "platform/log/DeviceChoiceLog.hpp"

namespace pindle::platform {

namespace {

constexpr const char* managerPath = "/org/freedesktop/GeoClue2/Manager";
constexpr const char* managerInterface = "org.freedesktop.GeoClue2.Manager";
constexpr const char* clientInterface = "org.freedesktop.GeoClue2.Client";
constexpr const char* locationInterface = "org.freedesktop.GeoClue2.Location";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* accessDenied = "org.freedesktop.DBus.Error.AccessDenied";
constexpr const char* serviceUnknown = "org.freedesktop.DBus.Error.ServiceUnknown";
constexpr const char* noReply = "org.freedesktop.DBus.Error.NoReply";
constexpr const char* kTimeout = "org.freedesktop.DBus.Error.Timeout";
// Beyond the calls' own deadline, how long connect() waits for the bus thread to report.
constexpr std::chrono::seconds connectMargin{2};

bool named(const sd_bus_error* error, const char* name) {
    return error && error->name && std::strcmp(error->name, name) == 0;
}

std::string whyNot(const sd_bus_error* error, std::chrono::milliseconds timeout) {
    if (named(error, serviceUnknown))
        return "no GeoClue2 service on the bus";
    if (named(error, noReply) || named(error, kTimeout))
        return "GeoClue2 did not answer within " + std::to_string(timeout.count()) + " ms";
    std::string text = "GeoClue2 failed";
    if (error && error->name)
        text += std::string(": ") + error->name;
    if (error && error->message)
        text += std::string(" (") + error->message + ")";
    return text;
}

// One property of a location object: a double, or the (seconds, microseconds) timestamp.
struct Fix {
    double latitude = NAN;
    double longitude = NAN;
    double accuracy = -1;
    std::optional<Date> timestamp;
};

// Reads the a{sv} of Properties.GetAll; false when the answer does not have that shape.
bool readFix(const SDBusLibrary& bus, sd_bus_message* reply, Fix& fix) {
    if (bus.sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "{sv}") <= 0)
        return false;
    for (;;) {
        const int entered = bus.sd_bus_message_enter_container(reply, SD_BUS_TYPE_DICT_ENTRY, "sv");
        if (entered < 0)
            return false;
        if (entered == 0)
            break;
        const char* key = nullptr;
        if (bus.sd_bus_message_read(reply, "s", &key) < 0 || !key)
            return false;
        double* number = std::strcmp(key, "Latitude") == 0    ? &fix.latitude
                         : std::strcmp(key, "Longitude") == 0 ? &fix.longitude
                         : std::strcmp(key, "Accuracy") == 0  ? &fix.accuracy
                                                              : nullptr;
        if (number) {
            if (bus.sd_bus_message_enter_container(reply, SD_BUS_TYPE_VARIANT, "d") <= 0 ||
                bus.sd_bus_message_read(reply, "d", number) < 0 ||
                bus.sd_bus_message_exit_container(reply) < 0)
                return false;
        } else if (std::strcmp(key, "Timestamp") == 0) {
            std::uint64_t seconds = 0, microseconds = 0;
            if (bus.sd_bus_message_enter_container(reply, SD_BUS_TYPE_VARIANT, "(tt)") <= 0 ||
                bus.sd_bus_message_read(reply, "(tt)", &seconds, &microseconds) < 0 ||
                bus.sd_bus_message_exit_container(reply) < 0)
                return false;
            fix.timestamp = Date::fromTimeIntervalSince1970(
                static_cast<double>(seconds) + static_cast<double>(microseconds) / 1e6);
        } else if (bus.sd_bus_message_skip(reply, "v") < 0) {
            return false;
        }
        if (bus.sd_bus_message_exit_container(reply) < 0)
            return false;
    }
    return bus.sd_bus_message_exit_container(reply) >= 0;
}

bool plausible(const Fix& fix) {
    return std::isfinite(fix.latitude) && std::isfinite(fix.longitude) &&
           std::fabs(fix.latitude) <= 90 && std::fabs(fix.longitude) <= 180;
}

DBusConnection::Arguments setProperty(const char* name, const char* type, const void* value) {
    return [name, type, value](const SDBusLibrary& bus, sd_bus_message* call) {
        if (std::strcmp(type, "s") == 0)
            return bus.sd_bus_message_append(call, "ssv", clientInterface, name, "s",
                                             static_cast<const char*>(value));
        return bus.sd_bus_message_append(call, "ssv", clientInterface, name, "u",
                                         *static_cast<const std::uint32_t*>(value));
    };
}

}  // namespace

std::shared_ptr<GeoClueLocationSource> GeoClueLocationSource::connect(const Options& options,
                                                                      std::string* why) {
    auto source = std::make_shared<GeoClueLocationSource>(Private{}, options);
    std::weak_ptr<GeoClueLocationSource> weak = source;
    std::string reason;
    source->bus_ = DBusConnection::open(
        options.busAddress, [raw = source.get()](const std::string& lost) { raw->disable(lost); },
        &reason);
    if (!source->bus_) {
        if (why)
            *why = reason;
        return nullptr;
    }
    auto answered = std::make_shared<std::promise<std::string>>();
    auto answer = answered->get_future();
    GeoClueLocationSource* raw = source.get();
    source->bus_->post([raw, answered] {
        raw->getClient([answered](const std::string& failure) { answered->set_value(failure); });
    });
    if (answer.wait_for(options.timeout + connectMargin) != std::future_status::ready)
        reason =
            "GeoClue2 did not answer within " + std::to_string(options.timeout.count()) + " ms";
    else
        reason = answer.get();
    if (!reason.empty()) {
        if (why)
            *why = reason;
        return nullptr;
    }
    return source;
}

GeoClueLocationSource::GeoClueLocationSource(Private, Options options)
    : options_(std::move(options)) {}

GeoClueLocationSource::~GeoClueLocationSource() {
    // The bus thread stops before the members its work and handlers use go away, the
    // connection among them: reset() alone would clear bus_ while that work still runs.
    if (bus_)
        bus_->stop();
}

bool GeoClueLocationSource::locationServicesEnabled() const {
    return enabled_.load();
}

AuthorizationStatus GeoClueLocationSource::authorizationStatus() const {
    return status_.load();
}

std::string GeoClueLocationSource::description() const {
    std::lock_guard lock(mutex_);
    if (!disabledWhy_.empty())
        return "location services disabled (" + disabledWhy_ + ")";
    if (status_.load() == AuthorizationStatus::denied)
        return "location services denied (the desktop's location agent refused this application)";
    return std::string("GeoClue2 on ") +
           (options_.busAddress.empty() ? "the system bus" : options_.busAddress);
}

std::string GeoClueLocationSource::clientPath() const {
    std::lock_guard lock(mutex_);
    return clientPath_;
}

void GeoClueLocationSource::startUpdating(const std::shared_ptr<LocationManager>& manager) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(managers_, [&](const auto& entry) {
            const auto held = entry.lock();
            return !held || held == manager;
        });
        managers_.push_back(manager);
    }
    if (!enabled_.load()) {
        std::string why;
        {
            std::lock_guard lock(mutex_);
            why = disabledWhy_;
        }
        manager->deliverError(Error(
            errorDomain, errorLocationUnknown,
            {{Error::localizedDescriptionKey, Value("location services disabled (" + why + ")")}}));
        return;
    }
    if (status_.load() == AuthorizationStatus::denied) {
        manager->deliverAuthorizationStatus(AuthorizationStatus::denied);
        return;
    }
    bus_->post([this] { advance(); });
}

void GeoClueLocationSource::stopUpdating(const std::shared_ptr<LocationManager>& manager) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(managers_, [&](const auto& entry) {
            const auto held = entry.lock();
            return !held || held == manager;
        });
    }
    bus_->post([this] { advance(); });
}

std::vector<std::shared_ptr<LocationManager>> GeoClueLocationSource::updatingManagers() {
    std::vector<std::shared_ptr<LocationManager>> updating;
    std::lock_guard lock(mutex_);
    for (const auto& entry : managers_)
        if (auto manager = entry.lock())
            updating.push_back(std::move(manager));
    return updating;
}

bool GeoClueLocationSource::wanted() {
    // No manager is locked here: see tellManagers().
    std::lock_guard lock(mutex_);
    return std::any_of(managers_.begin(), managers_.end(),
                       [](const auto& weak) { return !weak.expired(); });
}

void GeoClueLocationSource::tellManagers(std::function<void(LocationManager&)> report) {
    auto managers = updatingManagers();
    if (managers.empty())
        return;
    // The managers are released on another thread: a manager holds its source, and releasing
    // the last one on the bus thread would have that thread stop (join) itself.
    DispatchQueue::global()->async(
        [managers = std::move(managers), report = std::move(report)]() mutable {
            for (const auto& manager : managers) report(*manager);
            managers.clear();
        });
}

void GeoClueLocationSource::advance() {
    if (busy_ || !enabled_.load() || status_.load() == AuthorizationStatus::denied)
        return;
    const bool want = wanted();
    if (want && step_ == Step::none)
        return getClient([this](const std::string& why) {
            if (!why.empty())
                disable(why);
        });
    if (want && step_ == Step::client)
        return configure();
    if (want && step_ == Step::configured)
        return start();
    if (!want && step_ == Step::started)
        return stop();
}

void GeoClueLocationSource::getClient(std::function<void(const std::string&)> done) {
    busy_ = true;
    bus_->call(
        serviceName, managerPath, managerInterface, "GetClient", nullptr, options_.timeout,
        [this, done = std::move(done)](sd_bus_message* reply, const sd_bus_error* error) {
            busy_ = false;
            if (named(error, accessDenied)) {
                refuse();
                return done({});
            }
            const char* path = nullptr;
            if (error || bus_->library().sd_bus_message_read(reply, "o", &path) < 0 || !path)
                return done(error ? whyNot(error, options_.timeout) : "GeoClue2 gave no client");
            {
                std::lock_guard lock(mutex_);
                clientPath_ = path;
            }
            step_ = Step::client;
            done({});
            advance();
        });
}

void GeoClueLocationSource::configure() {
    busy_ = true;
    const std::string path = clientPath();
    // Each step's failure ends the chain: a refusal denies, anything else disables.
    const auto failed = [this](const sd_bus_error* error) {
        busy_ = false;
        if (named(error, accessDenied))
            refuse();
        else
            disable(whyNot(error, options_.timeout));
    };
    bus_->call(serviceName, path, propertiesInterface, "Set",
               setProperty("DesktopId", "s", options_.desktopId.c_str()), options_.timeout,
               [this, path, failed](sd_bus_message*, const sd_bus_error* error) {
                   if (error)
                       return failed(error);
                   static const std::uint32_t exact = accuracyLevelExact;
                   bus_->call(serviceName, path, propertiesInterface, "Set",
                              setProperty("RequestedAccuracyLevel", "u", &exact), options_.timeout,
                              [this, path, failed](sd_bus_message*, const sd_bus_error* error) {
                                  if (error)
                                      return failed(error);
                                  signalMatch_ = bus_->matchSignal(
                                      path, clientInterface, "LocationUpdated",
                                      [this](sd_bus_message* signal) {
                                          const char* previous = nullptr;
                                          const char* current = nullptr;
                                          if (bus_->library().sd_bus_message_read(
                                                  signal, "oo", &previous, &current) >= 0 &&
                                              current && std::strcmp(current, "/") != 0)
                                              readLocation(current);
                                      },
                                      [this, failed](sd_bus_message*, const sd_bus_error* error) {
                                          if (error)
                                              return failed(error);
                                          busy_ = false;
                                          step_ = Step::configured;
                                          advance();
                                      });
                              });
               });
}

void GeoClueLocationSource::start() {
    busy_ = true;
    bus_->call(serviceName, clientPath(), clientInterface, "Start", nullptr, options_.timeout,
               [this](sd_bus_message*, const sd_bus_error* error) {
                   busy_ = false;
                   if (named(error, accessDenied))
                       return refuse();
                   if (error)
                       return disable(whyNot(error, options_.timeout));
                   step_ = Step::started;
                   advance();
               });
}

void GeoClueLocationSource::stop() {
    busy_ = true;
    bus_->call(serviceName, clientPath(), clientInterface, "Stop", nullptr, options_.timeout,
               [this](sd_bus_message*, const sd_bus_error* error) {
                   busy_ = false;
                   if (error && !named(error, accessDenied))
                       return disable(whyNot(error, options_.timeout));
                   step_ = Step::configured;
                   advance();
               });
}

void GeoClueLocationSource::readLocation(const std::string& path) {
    bus_->call(
        serviceName, path, propertiesInterface, "GetAll",
        [](const SDBusLibrary& bus, sd_bus_message* call) {
            return bus.sd_bus_message_append(call, "s", locationInterface);
        },
        options_.timeout,
        [this](sd_bus_message* reply, const sd_bus_error* error) {
            if (error)
                return;  // that fix is lost; the next signal brings another
            Fix fix;
            if (!readFix(bus_->library(), reply, fix) || !plausible(fix))
                return;
            const Location location(fix.latitude, fix.longitude,
                                    fix.timestamp.value_or(Date::now()), fix.accuracy);
            tellManagers(
                [location](LocationManager& manager) { manager.deliverLocations({location}); });
        });
}

void GeoClueLocationSource::sayChange() {
    if (options_.isProcessChoice)
        DeviceChoiceLog::revise("location", description());
}

void GeoClueLocationSource::refuse() {
    status_.store(AuthorizationStatus::denied);
    sayChange();
    tellManagers([](LocationManager& manager) {
        manager.deliverAuthorizationStatus(AuthorizationStatus::denied);
    });
}

void GeoClueLocationSource::disable(const std::string& why) {
    {
        std::lock_guard lock(mutex_);
        if (!enabled_.load())
            return;
        disabledWhy_ = why;
        enabled_.store(false);
    }
    sayChange();
    const Error error(
        errorDomain, errorLocationUnknown,
        {{Error::localizedDescriptionKey, Value("location services disabled (" + why + ")")}});
    tellManagers([error](LocationManager& manager) { manager.deliverError(error); });
}

}  // namespace pindle::platform

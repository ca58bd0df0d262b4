#include "tests/support/PrivateDBus.hpp"

#include <filesystem>
#include <fstream>

#include "tests/support/TestFolders.hpp"

namespace pindle::testing {

namespace {

constexpr std::chrono::seconds busStartPatience{10};

std::string configFor(const std::string& folder) {
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" +
           folder + R"(/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
}

}  // namespace

std::unique_ptr<PrivateDBus> PrivateDBus::start(std::string* why) {
    if (ChildProcess::find("dbus-daemon").empty()) {
        if (why)
            *why = "dbus-daemon is not installed";
        return nullptr;
    }
    const std::string folder = makeScratchFolder("dbus-");
    const std::string config = folder + "/bus.conf";
    std::ofstream(config) << configFor(folder);
    auto daemon = ChildProcess::start(
        {"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"},
        {}, why);
    if (!daemon)
        return nullptr;
    const auto address = daemon->readLine(busStartPatience);
    if (!address || address->empty()) {
        if (why)
            *why = "dbus-daemon did not say its address";
        return nullptr;
    }
    return std::make_unique<PrivateDBus>(folder, std::move(daemon), *address);
}

PrivateDBus::~PrivateDBus() {
    daemon_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

}  // namespace pindle::testing

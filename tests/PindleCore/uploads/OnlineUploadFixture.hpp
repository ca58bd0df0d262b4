// A fixture for the upload road: the backend emulator on loopback, a started session, a device
// that is on line whatever this machine's network looks like, and an application home of the
// test's own, so no record of one test is restarted by another.
#pragma once

#include "../api/EmulatorFixture.hpp"
#include "PindleCore/device/PBandwidthService.hpp"
#include "platform/net/reachability/ScriptedReachabilitySource.hpp"
#include "tests/support/TemporaryHome.hpp"

namespace pindle::testing {

class OnlineUploadFixture : public EmulatorFixture {
  protected:
    void SetUp() override {
        home_.emplace("uploads-");
        EmulatorFixture::SetUp();
        authorize();
        auto source = std::make_shared<platform::ScriptedReachabilitySource>(
            platform::NetworkReachabilityFlag::reachable);
        platform::NetworkReachabilitySource::setCurrent(source);
        legacy::PBandwidthService::setInstance(std::make_shared<legacy::PBandwidthService>(
            legacy::Reachability::reachabilityForInternetConnection()));
        platform::NetworkReachabilitySource::setCurrent(nullptr);
    }
    void TearDown() override {
        legacy::PBandwidthService::setInstance(nullptr);
        EmulatorFixture::TearDown();
        home_.reset();
    }

    std::optional<TemporaryHome> home_;
};

}  // namespace pindle::testing

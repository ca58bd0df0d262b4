// The volume indicator follows the shared audio session's output volume, each indicator
// through its own observation; one whose view never loaded goes away cleanly. With a sound
// server in use, the volume is the server's default sink's.
#include <gtest/gtest.h>

#include <cmath>

#include "PindlePlayer/views/PNPlayerVolumeIndicatorViewController.hpp"
#include "PindlePlayer/views/private/PNPlayerStoryboard.hpp"
#include "platform/audio/private/SoundServer.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/media/AudioSession.hpp"
#include "platform/ui/Storyboard.hpp"
#include "tests/support/PulseAudioServer.hpp"

namespace pindle {
namespace {

using platform::AudioSession;

std::shared_ptr<PNPlayerVolumeIndicatorViewController> makeIndicator() {
    auto board = platform::ui::Storyboard::named(PNPlayerStoryboard::storyboardName,
                                                 PNPlayerStoryboard::bundle());
    return std::dynamic_pointer_cast<PNPlayerVolumeIndicatorViewController>(
        board->instantiateViewController(PNPlayerStoryboard::volumeIndicatorScene));
}

TEST(PNPlayerVolumeIndicatorViewControllerTest, EachIndicatorFollowsTheVolume) {
    auto& session = AudioSession::sharedInstance();
    session.simulateOutputVolumeChange(0.3f);
    auto first = makeIndicator(), second = makeIndicator();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->context(), nullptr);
    first->view();
    second->view();
    EXPECT_NE(first->context(), second->context());
    auto bar = first->volumeBar();
    EXPECT_FLOAT_EQ(bar->progress(), 0.3f);
    EXPECT_EQ(bar->transform().d, 0.5);
    EXPECT_EQ(bar->transform().a, 1.0);

    session.simulateOutputVolumeChange(0.7f);
    EXPECT_FLOAT_EQ(bar->progress(), 0.7f);
    EXPECT_FALSE(bar->lastSetAnimated());
    EXPECT_FLOAT_EQ(second->volumeBar()->progress(), 0.7f);

    first.reset();  // its observation goes with it; the other keeps following
    session.simulateOutputVolumeChange(0.2f);
    EXPECT_FLOAT_EQ(second->volumeBar()->progress(), 0.2f);

    makeIndicator().reset();  // never loaded: nothing to remove
    session.simulateOutputVolumeChange(0.5f);
    EXPECT_FLOAT_EQ(second->volumeBar()->progress(), 0.5f);
}

// With a sound server in use, the bar follows the default sink's volume as the desktop's
// volume keys move it.
TEST(PNPlayerVolumeIndicatorViewControllerTest, FollowsTheSoundServersVolume) {
    std::string skip, failure;
    auto server = pindle::testing::PulseAudioServer::start(&skip, &failure);
    if (!server && !skip.empty())
        GTEST_SKIP() << skip;
    ASSERT_TRUE(server) << failure;
    auto indicator = makeIndicator();
    ASSERT_TRUE(indicator);
    indicator->view();
    platform::SoundServer::useServer(server->address());
    ASSERT_TRUE(platform::SoundServer::shared());

    for (const double volume : {0.3, 0.8}) {
        ASSERT_TRUE(server->setSinkVolume(volume));
        EXPECT_TRUE(platform::MainThread::runUntil(
            [&] { return std::fabs(indicator->volumeBar()->progress() - volume) < 0.01; }, 10.0))
            << "the bar shows " << indicator->volumeBar()->progress() << " for " << volume;
        EXPECT_NEAR(AudioSession::sharedInstance().outputVolume(), volume, 0.01);
    }
    platform::SoundServer::useServer(std::nullopt);
    platform::MainThread::drain();
    AudioSession::sharedInstance().simulateOutputVolumeChange(0.5f);
}

}  // namespace
}  // namespace pindle

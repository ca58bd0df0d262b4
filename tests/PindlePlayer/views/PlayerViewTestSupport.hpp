// Player view tests' support.
//
// settlePlayerViews() waits, bounded, until every queue a view's work runs on has run what
// it was given: the item's queue (byte arrivals, readiness, stalls and the end
// start there), the view's own queue (where it decides), and the main queue (interface
// work, building items). Work hops between them in every direction (the main queue builds
// an item whose queue then announces to the view), so the three are drained in turn for
// `rounds` rounds, each round following one item → view → main hop.
//
// stopPreloading() ends a test's downloads: a loader lives under its player id as long as
// what made it, and one left preloading a video nothing serves starts the failed download
// again each time it fails, so repeated tests would pile such loops up.
//
// Thread-safety: call from the test (main) thread only.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "PindlePlayer/loading/PNVideoLoader.hpp"
#include "PindlePlayer/views/PNPlayerView.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/PlayerItem.hpp"
#include "tests/support/Barriers.hpp"

namespace pindle::testing {

// `views` is read again each round: a round may add or replace views and items.
template <class Views>
::testing::AssertionResult settlePlayerViews(const Views& views, int rounds = 3) {
    for (int round = 0; round < rounds; ++round) {
        const std::vector<std::shared_ptr<PNPlayerView>> current = views();
        for (const auto& view : current) {
            if (auto item = view->player()->currentItem()) {
                if (auto drained = drain(item->queue()); !drained)
                    return drained;
            }
        }
        for (const auto& view : current) {
            if (auto drained = drain(view->queue()); !drained)
                return drained;
        }
        platform::MainThread::drain();
    }
    return ::testing::AssertionSuccess();
}

inline void stopPreloading(const std::string& playerId) {
    if (auto loader = PNVideoLoader::loader(playerId))
        loader->setVideosToPreload({});
}

}  // namespace pindle::testing

#include <gtest/gtest.h>

#include "LegacyPlaylistFixture.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/playlists/PNVideoRequestOperation.hpp"
#include "platform/dispatch/OperationQueue.hpp"
#include "tests/support/Barriers.hpp"
#include "tools/emulator/QueryString.hpp"

namespace pindle {
namespace {

using testing::Outcome;

struct Answer {
    PNVideoPtr video;
    std::vector<PNVideoPtr> replaced;
    std::optional<platform::Error> error;
};

// Stores what it is handed and replaces a fixed list.
class PageStore : public PNVideoRequestOperationDelegate {
  public:
    std::vector<PNVideoPtr> pnVideoRequestReceivedResult(const std::vector<PNVideoPtr>& videos,
                                                         std::int64_t page) override {
        std::lock_guard lock(mutex_);
        pages_.emplace_back(page, videos.size());
        return replaced_;
    }
    std::vector<std::pair<std::int64_t, std::size_t>> pages() const {
        std::lock_guard lock(mutex_);
        return pages_;
    }
    std::vector<PNVideoPtr> replaced_;

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::int64_t, std::size_t>> pages_;  // guarded by mutex_
};

class PNLegacyPlaylistRequestTest : public testing::LegacyPlaylistFixture {
  protected:
    static PNVideoRequestOperation::Callback into(Outcome<Answer>& outcome) {
        return [&outcome](const PNVideoPtr& video, const std::vector<PNVideoPtr>& replaced,
                          const std::optional<platform::Error>& error) {
            outcome.set({video, replaced, error});
        };
    }
    std::shared_ptr<PNVideoRequestOperation> request(std::int64_t index, Outcome<Answer>& outcome) {
        return std::make_shared<PNVideoRequestOperation>(
            index / PNVideoRequestOperation::videosPerRequest, index, platform::StringSet{kTag},
            platform::StringDictionary{}, into(outcome));
    }

    std::shared_ptr<platform::OperationQueue> queue_ = platform::OperationQueue::create();
};

TEST_F(PNLegacyPlaylistRequestTest, AnswersEveryWaitingIndexFromOnePage) {
    const auto ids = putRemotes(130);
    Outcome<Answer> at120, at149, at101;
    auto operation = request(120, at120);
    auto store = std::make_shared<PageStore>();
    auto replacedVideo = PNVideo::make({});
    store->replaced_ = {replacedVideo};
    operation->setDelegate(store);
    ASSERT_TRUE(operation->addBlockCall(149, into(at149)));  // past the end of the short page
    ASSERT_TRUE(operation->addBlockCall(101, into(at101)));
    queue_->addOperation(operation);

    ASSERT_TRUE(at120.wait().video);
    EXPECT_EQ(at120.wait().video->videoID(), ids[120]);
    EXPECT_EQ(at120.wait().replaced, std::vector<PNVideoPtr>{replacedVideo});
    EXPECT_FALSE(at149.wait().video);
    EXPECT_FALSE(at149.wait().error);
    ASSERT_TRUE(at101.wait().video);
    EXPECT_EQ(at101.wait().video->videoID(), ids[101]);
    EXPECT_EQ(store->pages(), (std::vector<std::pair<std::int64_t, std::size_t>>{{2, 30}}));

    auto lists = listRequests();
    ASSERT_EQ(lists.size(), 1u);
    emulator::QueryString query(lists[0].rawQuery());
    EXPECT_EQ(query.get("offset"), "100");
    EXPECT_EQ(query.get("limit"), "50");
    EXPECT_EQ(query.get("sortOrder"), "asc");

    // Once answered it takes no more calls: the caller must fetch anew.
    ASSERT_TRUE(testing::waitUntilIdle(queue_));
    Outcome<Answer> late;
    EXPECT_FALSE(operation->addBlockCall(121, into(late)));
    EXPECT_EQ(at120.calls() + at149.calls() + at101.calls(), 3);
}

TEST_F(PNLegacyPlaylistRequestTest, WithoutADelegateAnEmptyPageStillAnswers) {
    Outcome<Answer> answer;
    queue_->addOperation(request(3, answer));
    EXPECT_FALSE(answer.wait().video);
    EXPECT_FALSE(answer.wait().error);
    EXPECT_TRUE(answer.wait().replaced.empty());
}

TEST_F(PNLegacyPlaylistRequestTest, ACancelledRequestAnswersAtOnceAndSendsNothing) {
    putRemotes(5);
    Outcome<Answer> first, second;
    auto operation = request(0, first);
    ASSERT_TRUE(operation->addBlockCall(1, into(second)));
    operation->cancel();
    // Answered on this thread before cancel() returned.
    ASSERT_EQ(first.calls(), 1);
    ASSERT_EQ(second.calls(), 1);
    EXPECT_EQ(first.thread(), std::this_thread::get_id());
    ASSERT_TRUE(first.wait().error);
    EXPECT_EQ(PNError::fromPlatformError(*first.wait().error), PNError::unknown);
    EXPECT_FALSE(first.wait().video);

    Outcome<Answer> late;
    EXPECT_FALSE(operation->addBlockCall(2, into(late)));
    queue_->addOperation(operation);
    ASSERT_TRUE(testing::waitUntilIdle(queue_));
    EXPECT_EQ(requestsBesidesAProbe(), 0u);
    EXPECT_EQ(first.calls(), 1);
}

TEST_F(PNLegacyPlaylistRequestTest, AFailedPageAnswersWithTheMappedError) {
    auto store = std::make_shared<PageStore>();
    emulator_.server().addJSONReply("GET", "/v1/videos", 401, {{"error", "no"}}, {}, 1);
    Outcome<Answer> answer;
    auto operation = request(0, answer);
    operation->setDelegate(store);
    queue_->addOperation(operation);
    EXPECT_FALSE(answer.wait().video);
    ASSERT_TRUE(answer.wait().error);
    EXPECT_TRUE(PNError::fromPlatformError(*answer.wait().error).has_value());
    EXPECT_TRUE(store->pages().empty());
}

}  // namespace
}  // namespace pindle

#include "PindlePlayer/loading/PNVideoLoaderListener.hpp"

#include <gtest/gtest.h>

#include <numeric>

#include "tests/PindleCore/api/EmulatorFixture.hpp"

namespace pindle::testing {
namespace {

using platform::AssetResourceLoadingRequest;
using platform::AssetResourceLoadingRequestPtr;
using platform::Data;

// What the player would see of a loading request: the bytes at their offsets, and finishes.
class RecordingReceiver : public AssetResourceLoadingRequest::Receiver {
  public:
    void requestDidRespond(const AssetResourceLoadingRequestPtr&, std::int64_t offset,
                           std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(mutex);
        answers.emplace_back(offset, Data(bytes.begin(), bytes.end()));
    }
    void requestDidFinish(const AssetResourceLoadingRequestPtr&,
                          const std::optional<platform::Error>&) override {
        std::lock_guard lock(mutex);
        ++finishes;
    }
    std::mutex mutex;
    std::vector<std::pair<std::int64_t, Data>> answers;  // guarded by mutex
    int finishes = 0;                                    // guarded by mutex
};

Data chunk(std::int64_t offset, std::size_t size) {
    Data bytes(size);
    std::iota(bytes.begin(), bytes.end(), static_cast<std::uint8_t>(offset));
    return bytes;
}

class PNVideoLoaderListenerTest : public ::testing::Test {
  protected:
    // A loading request for bytes [offset, offset + length), already answered up to `current`.
    std::shared_ptr<PNVideoLoaderListener> listen(bool information, std::int64_t offset,
                                                  std::int64_t length, std::int64_t current,
                                                  const std::string& url = "pinlet://uid/abc123") {
        request_ = AssetResourceLoadingRequest::make(
            *platform::URL::fromString(url), information,
            length > 0 ? std::optional(AssetResourceLoadingRequest::Range{offset, length, false})
                       : std::nullopt,
            receiver_);
        if (current > offset)
            request_->dataRequest()->respond(Data(static_cast<std::size_t>(current - offset)));
        receiver_->answers.clear();
        return PNVideoLoaderListener::make(loader_, request_);
    }
    // The loader holds its listeners until they are removed.
    void TearDown() override {
        for (const auto& listener : loader_->listeners()) loader_->removeListener(listener);
        EXPECT_TRUE(eventually([&] { return loader_->listeners().empty(); }));
    }
    bool registered(const std::shared_ptr<PNVideoLoaderListener>& listener) {
        const auto all = loader_->listeners();
        return std::find(all.begin(), all.end(), listener) != all.end();
    }

    PNVideoLoaderPtr loader_ = PNVideoLoader::make();
    std::shared_ptr<RecordingReceiver> receiver_ = std::make_shared<RecordingReceiver>();
    AssetResourceLoadingRequestPtr request_;
};

TEST_F(PNVideoLoaderListenerTest, AnswersExactlyTheBytesItWaitsForAndFinishesOnce) {
    struct Case {
        const char* name;
        std::int64_t offset, length, current;
        std::int64_t chunkOffset;
        std::size_t chunkSize;
        // The answer expected: the file range [from, to), or nothing when from == to.
        std::int64_t from, to;
        bool finished;
    };
    const Case cases[] = {
        {"inside", 1500, 1000, 1500, 1000, 4000, 1500, 2500, true},
        {"chunk after the wanted byte", 900, 1000, 900, 1000, 4000, 0, 0, false},
        {"chunk before the wanted byte", 5000, 1000, 5000, 1000, 4000, 0, 0, false},
        {"head of two bytes", 0, 2, 0, 0, 4000, 0, 2, true},
        {"partly answered before", 1000, 3000, 1200, 1000, 1000, 1200, 2000, false},
    };
    for (const auto& c : cases) {
        auto listener = listen(false, c.offset, c.length, c.current);
        EXPECT_EQ(listener->videoId(), "abc123");
        EXPECT_EQ(listener->range(), (PNByteRange{c.current, c.length})) << c.name;
        ASSERT_TRUE(eventually([&] { return registered(listener); })) << c.name;
        listener->dataBlock(chunk(c.chunkOffset, c.chunkSize), c.chunkOffset);
        if (c.from == c.to) {
            EXPECT_TRUE(receiver_->answers.empty()) << c.name;
        } else {
            ASSERT_EQ(receiver_->answers.size(), 1u) << c.name;
            EXPECT_EQ(receiver_->answers[0].first, c.from) << c.name;
            const auto expected = chunk(c.chunkOffset, c.chunkSize);
            EXPECT_EQ(receiver_->answers[0].second,
                      Data(expected.begin() + (c.from - c.chunkOffset),
                           expected.begin() + (c.to - c.chunkOffset)))
                << c.name;
        }
        EXPECT_EQ(request_->isFinished(), c.finished) << c.name;
        EXPECT_EQ(listener->isActive(), !c.finished) << c.name;
        if (c.finished) {
            ASSERT_TRUE(eventually([&] { return !registered(listener); })) << c.name;
        }
        // Whatever comes later is not answered: no answer or finish after the end.
        listener->dataBlock(chunk(c.chunkOffset, c.chunkSize), c.chunkOffset);
        listener->completed(std::nullopt);
        EXPECT_EQ(request_->diagnostics().respondsAfterEnd, 0) << c.name;
        EXPECT_EQ(request_->diagnostics().finishesAfterEnd, 0) << c.name;
    }
}

TEST_F(PNVideoLoaderListenerTest, ContentInformationIsFilledAndEndsTheRequestWhenAllIsGiven) {
    // Content information only: finished once it is filled.
    auto information = listen(true, 0, 0, 0);
    information->size(123456);
    ASSERT_NE(request_->contentInformationRequest(), nullptr);
    EXPECT_EQ(request_->contentInformationRequest()->contentLength(), 123456);
    EXPECT_EQ(request_->contentInformationRequest()->contentType(), "public.mpeg-4");
    EXPECT_TRUE(request_->contentInformationRequest()->isByteRangeAccessSupported());
    EXPECT_TRUE(request_->isFinished());
    EXPECT_FALSE(information->isActive());

    // Both: the bytes alone do not finish it while its length is unknown.
    auto both = listen(true, 0, 2, 0);
    both->dataBlock(chunk(0, 4000), 0);
    EXPECT_FALSE(request_->isFinished());
    both->size(4000);
    EXPECT_TRUE(request_->isFinished());
    EXPECT_EQ(request_->diagnostics().finishesAfterEnd, 0);
}

TEST_F(PNVideoLoaderListenerTest, CompletionFinishesOnlyADeliveredRangeWithItsLength) {
    auto listener = listen(true, 0, 100, 0);
    listener->dataBlock(chunk(0, 50), 0);
    listener->completed(platform::Error("NSURLErrorDomain", -1005, {}));
    EXPECT_FALSE(request_->isFinished());
    listener->dataBlock(chunk(50, 50), 50);
    EXPECT_FALSE(request_->isFinished());  // the length is still unknown
    // Finished now, the player would take the file for empty: the length is waited for.
    listener->completed(std::nullopt);
    EXPECT_FALSE(request_->isFinished());
    listener->size(100);
    EXPECT_TRUE(request_->isFinished());
    EXPECT_FALSE(request_->error());
    EXPECT_EQ(request_->contentInformationRequest()->contentLength(), 100);

    // A failure is reported whether or not the length came, and the listener stays with its
    // loader after a completion.
    auto failed = listen(true, 0, 10, 0);
    failed->dataBlock(chunk(0, 10), 0);
    failed->completed(platform::Error("NSURLErrorDomain", -1005, {}));
    EXPECT_TRUE(request_->isFinished());
    EXPECT_TRUE(request_->error());
    EXPECT_TRUE(eventually([&] { return registered(failed); }));
}

TEST_F(PNVideoLoaderListenerTest, ACancelledRequestIsNeitherFinishedNorAnsweredAgain) {
    auto listener = listen(false, 0, 1000, 0);
    ASSERT_TRUE(eventually([&] { return registered(listener); }));
    ASSERT_TRUE(request_->cancel());
    listener->cancel();
    EXPECT_FALSE(listener->isActive());
    ASSERT_TRUE(eventually([&] { return !registered(listener); }));
    listener->dataBlock(chunk(0, 1000), 0);
    listener->completed(std::nullopt);
    EXPECT_TRUE(receiver_->answers.empty());
    EXPECT_EQ(request_->diagnostics().respondsAfterEnd, 0);
    EXPECT_EQ(request_->diagnostics().finishesAfterEnd, 0);
}

TEST(PNVideoLoaderTest, RegisteredLoadersAreFoundByIdReplacedAndUnregistered) {
    // An id of this run's own keeps a repeated test from finding the loader of an earlier run.
    static int runs = 0;
    const std::string id = "registry-test-" + std::to_string(++runs);
    const auto before = PNVideoLoader::loadersCount();
    auto first = PNVideoLoader::make(id, 1);
    EXPECT_EQ(PNVideoLoader::loader(id), first);
    EXPECT_EQ(PNVideoLoader::loadersCount(), before + 1);
    auto second = PNVideoLoader::make(id, 2);
    EXPECT_EQ(PNVideoLoader::loader(id), second);
    EXPECT_EQ(PNVideoLoader::loadersCount(), before + 1);
    EXPECT_EQ(PNVideoLoader::loader("never-made"), nullptr);
    // Only the loader registered under the id takes the entry with it.
    PNVideoLoader::unregister(*first);
    EXPECT_EQ(PNVideoLoader::loader(id), second);
    PNVideoLoader::unregister(*second);
    EXPECT_EQ(PNVideoLoader::loader(id), nullptr);
    EXPECT_EQ(PNVideoLoader::loadersCount(), before);
}

}  // namespace
}  // namespace pindle::testing

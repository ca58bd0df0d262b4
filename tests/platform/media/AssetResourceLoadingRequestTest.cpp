#include "platform/media/AssetResourceLoadingRequest.hpp"

#include <gtest/gtest.h>

namespace pindle::platform {
namespace {

class Recorder : public AssetResourceLoadingRequest::Receiver {
  public:
    void requestDidRespond(const AssetResourceLoadingRequestPtr& request, std::int64_t offset,
                           std::span<const std::uint8_t> bytes) override {
        answers.emplace_back(offset, bytes.size());
        offsetsWhileTaking.push_back(request->dataRequest()->currentOffset());
    }
    void requestDidFinish(const AssetResourceLoadingRequestPtr&,
                          const std::optional<Error>& error) override {
        finishes.push_back(error.has_value());
    }
    std::vector<std::pair<std::int64_t, std::size_t>> answers;
    std::vector<std::int64_t> offsetsWhileTaking;
    std::vector<bool> finishes;
};

TEST(AssetResourceLoadingRequestTest, AnswersPastTheRangeOrTheEndAreDroppedAndCounted) {
    auto recorder = std::make_shared<Recorder>();
    auto request = AssetResourceLoadingRequest::make(
        *URL::fromString("pinlet://uid/video"), false,
        AssetResourceLoadingRequest::Range{100, 10, false}, recorder);
    request->dataRequest()->respond(Data(4));
    request->dataRequest()->respond(Data(10));  // six bytes too many
    EXPECT_EQ(request->dataRequest()->currentOffset(), 110);
    EXPECT_EQ(recorder->answers,
              (std::vector<std::pair<std::int64_t, std::size_t>>{{100, 4}, {104, 6}}));
    EXPECT_EQ(request->diagnostics().respondsAfterEnd, 1);
    // A player reading the offset while it stores an answer must not count those bytes as
    // already its own.
    EXPECT_EQ(recorder->offsetsWhileTaking, (std::vector<std::int64_t>{100, 104}));

    request->finishLoading();
    request->finishLoading(Error("NSURLErrorDomain", -1, {}));
    request->dataRequest()->respond(Data(1));
    EXPECT_FALSE(request->cancel());
    EXPECT_EQ(recorder->finishes, std::vector<bool>{false});
    EXPECT_TRUE(request->isFinished());
    EXPECT_FALSE(request->error());
    EXPECT_EQ(request->diagnostics().finishesAfterEnd, 1);
    EXPECT_EQ(request->diagnostics().respondsAfterEnd, 2);
}

TEST(AssetResourceLoadingRequestTest, ACancelledRequestTakesNoFinish) {
    auto recorder = std::make_shared<Recorder>();
    auto request = AssetResourceLoadingRequest::make(*URL::fromString("pinlet://uid/video"), true,
                                                     std::nullopt, recorder);
    EXPECT_EQ(request->dataRequest(), nullptr);
    ASSERT_NE(request->contentInformationRequest(), nullptr);
    EXPECT_TRUE(request->cancel());
    request->finishLoading();
    EXPECT_TRUE(request->isCancelled());
    EXPECT_FALSE(request->isFinished());
    EXPECT_TRUE(recorder->finishes.empty());
    EXPECT_EQ(request->diagnostics().finishesAfterEnd, 1);
}

}  // namespace
}  // namespace pindle::platform

#include "PindleCore/api/PNPathMaker.hpp"

#include <gtest/gtest.h>

#include "PindleCore/api/PNAPIConstants.hpp"

namespace pindle {
namespace {

TEST(PNPathMakerTest, FillsPlaceholdersLiterally) {
    const PNPathMaker& maker = PNPathMaker::shared();
    struct Case {
        std::string pathTemplate;
        platform::Dictionary values;
        std::vector<std::string> names;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        {"/{videoID}", {{"videoID", "abc"}}, {"videoID"}, "/abc"},
        {"/{videoID}/signedUrl", {{"videoID", "abc"}}, {"videoID"}, "/abc/signedUrl"},
        {"", {{"videoID", "abc"}}, {}, ""},
        {"/sync", {}, {}, "/sync"},
        {"/{a}/{a}", {{"a", "x"}}, {"a", "a"}, "/x/x"},
        {"{}", {{"", "v"}}, {""}, "v"},
        {"/x/{videoID", {{"videoID", "abc"}}, {"videoID"}, "/x/{videoID"},
        {"/{videoID}", {{"videoID", "a b"}}, {"videoID"}, "/a b"},
        {"/{videoID}", {{"videoID", 42}}, {"videoID"}, "/42"},
        {"/{videoID}", {}, {"videoID"}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pathTemplate);
        EXPECT_EQ(maker.params(c.pathTemplate), c.names);
        EXPECT_EQ(maker.makePath(c.pathTemplate, c.values), c.path);
    }
}

TEST(PNPathMakerTest, ConstantsComposeTheAPIRoot) {
    PNAPIConstants::setGateway("127.0.0.1:8080", false);
    EXPECT_EQ(PNAPIConstants::apiRoot(), "127.0.0.1:8080/v1");
    EXPECT_EQ(PNAPIConstants::apiProtocol(), "http");
    PNAPIConstants::setGateway(PNAPIConstants::defaultGatewayHost, true);
    EXPECT_EQ(PNAPIConstants::apiProtocol(), "https");
    EXPECT_EQ(PNAPIConstants::notificationsProtocol(), "wss");
    EXPECT_EQ(PNConstant::Playlist::videosPerRequest, 50);
    EXPECT_STREQ(PNConstant::Recording::r720p, "720p");
}

}  // namespace
}  // namespace pindle

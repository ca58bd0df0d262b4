#include "PindleCore/model/PNError.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNErrorClassification.hpp"
#include "PindleCore/model/PNErrorFabric.hpp"

namespace pindle {
namespace {

using platform::Error;

Error urlError(std::int64_t code) {
    return platform::makeURLError(code);
}
Error statusError(std::int64_t status) {
    return Error("com.p.pinlet", -1, {{"statusCode", status}, {"response", "r"}});
}

TEST(PNErrorTest, EveryCodeHasItsMessage) {
    PNSession::current()->setAppID("app-42");
    const char* messages[] = {
        "No internet connection",
        "The session has not started",
        "Unable to authenticate for app id app-42",
        "The network call has timed out",
        "The server is currently down",
        "Inputed values are too large",
        "You have reached the quota limit",
        "Server is currently going through maintenance",
        "Video out requested out of bound",
        "Video is unavailable",
        "Failed to load video",
        "Video is not found",
        "Video doesn't have url to play",
        "Video file to upload is not found",
        "Incorrect type of video file",
        "Unknown error occured",
    };
    for (std::int64_t code = 0; code < 16; ++code) {
        std::optional<PNError> error = PNError::fromRawValue(code);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->localizedDescription(), messages[code]);
        Error platformError = *error;
        EXPECT_EQ(platformError.domain(), "PindleCore.PNError");
        EXPECT_EQ(platformError.code(), code);
        EXPECT_EQ(*platformError.userInfo().at("description").asString(), messages[code]);
        EXPECT_EQ(PNError::fromPlatformError(platformError), error);
    }
    EXPECT_EQ(PNError::fromRawValue(16), std::nullopt);
    EXPECT_EQ(PNError::fromRawValue(-1), std::nullopt);

    PNSession::current()->setAppID(std::nullopt);
    EXPECT_EQ(PNError(PNError::authenticationFailed).localizedDescription(),
              "Unable to authenticate for app id ");
}

TEST(PNErrorTest, ClassificationAndMappingFollowTheFixedOrder) {
    struct Case {
        const char* name;
        Error error;
        bool offline, timeout, serverDown, cancelled, terminated, auth, notFound, range, retry;
        std::int64_t mapped;
    };
    Error offlineWith401("NSURLErrorDomain", -1009, {{"statusCode", 401}});
    const Case cases[] = {
        {"-1009", urlError(-1009), 1, 0, 0, 0, 0, 0, 0, 0, 1, 0},
        {"-1005", urlError(-1005), 1, 0, 0, 0, 0, 0, 0, 0, 1, 0},
        {"-1001", urlError(-1001), 0, 1, 0, 0, 0, 0, 0, 0, 1, 3},
        {"-1003", urlError(-1003), 0, 0, 1, 0, 0, 0, 0, 0, 1, 4},
        {"-1004", urlError(-1004), 0, 0, 1, 0, 0, 0, 0, 0, 1, 4},
        {"-999", urlError(-999), 0, 0, 0, 1, 0, 0, 0, 0, 0, 15},
        {"-999 other domain", Error("x", -999), 0, 0, 0, 1, 0, 0, 0, 0, 0, 15},
        {"53", Error("NSPOSIXErrorDomain", 53), 0, 0, 0, 0, 1, 0, 0, 0, 1, 15},
        {"401", statusError(401), 0, 0, 0, 0, 0, 1, 0, 0, 0, 2},
        {"404", statusError(404), 0, 0, 0, 0, 0, 0, 1, 0, 0, 15},
        {"416", statusError(416), 0, 0, 0, 0, 0, 0, 0, 1, 0, 15},
        {"500", statusError(500), 0, 0, 0, 0, 0, 0, 0, 0, 0, 15},
        {"-1009 with 401", offlineWith401, 1, 0, 0, 0, 0, 1, 0, 0, 1, 0},
        {"-1009 in another domain", Error("x", -1009), 0, 0, 0, 0, 0, 0, 0, 0, 0, 15},
        {"status as text", Error("x", -1, {{"statusCode", "401"}}), 0, 0, 0, 0, 0, 0, 0, 0, 0, 15},
        {"a PNError", PNError(PNError::timedOut), 0, 0, 0, 0, 0, 0, 0, 0, 0, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isOffline(c.error), c.offline);
        EXPECT_EQ(timedOut(c.error), c.timeout);
        EXPECT_EQ(isServerDownError(c.error), c.serverDown);
        EXPECT_EQ(isCancelled(c.error), c.cancelled);
        EXPECT_EQ(isTerminated(c.error), c.terminated);
        EXPECT_EQ(isAuthError(c.error), c.auth);
        EXPECT_EQ(isNotFound(c.error), c.notFound);
        EXPECT_EQ(isRangeNotSatisfied(c.error), c.range);
        EXPECT_EQ(isRetryError(c.error), c.retry);
        EXPECT_FALSE(isQuotaError(c.error));
        EXPECT_FALSE(isServerMaintenanceError(c.error));
        EXPECT_EQ(PNErrorFabric::error(c.error).rawValue(), c.mapped);
    }

    // Only a status that tells of a passing state is worth asking again.
    for (const auto& [status, retryable] : std::vector<std::pair<int, bool>>{{403, false},
                                                                             {404, false},
                                                                             {407, false},
                                                                             {408, true},
                                                                             {416, false},
                                                                             {429, true},
                                                                             {499, false},
                                                                             {500, true},
                                                                             {503, true},
                                                                             {599, true},
                                                                             {600, false}}) {
        EXPECT_EQ(isRetryableStatus(statusError(status)), retryable) << status;
    }
    EXPECT_FALSE(isRetryableStatus(urlError(-1001)));
}

TEST(PNErrorTest, FabricWithoutAnError) {
    EXPECT_EQ(PNErrorFabric::errorAnyway(std::nullopt), PNError::unknown);
    EXPECT_EQ(PNErrorFabric::errorNullable(std::nullopt), std::nullopt);
    EXPECT_EQ(PNErrorFabric::errorNullable(urlError(-1001)), PNError(PNError::timedOut));
}

}  // namespace
}  // namespace pindle

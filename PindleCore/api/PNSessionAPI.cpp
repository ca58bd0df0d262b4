#include "PindleCore/api/PNSessionAPI.hpp"

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNAuthToken.hpp"
#include "PindleCore/api/PNRequester.hpp"
#include "PindleCore/model/PNError.hpp"
#include "platform/foundation/StandardOutput.hpp"

namespace pindle {

PNSessionAPI& PNSessionAPI::shared() {
    static PNSessionAPI* api = new PNSessionAPI;
    return *api;
}

PNCancellablePtr PNSessionAPI::session(const std::string& identity, Completion completion) {
    auto handler = [completion](const platform::Value& result,
                                const std::optional<platform::Error>& error) {
        if (error) {
            platform::StandardOutput::writeLine("Pindle Session error encountered:");
            platform::StandardOutput::writeLine(error->localizedDescription());
            platform::StandardOutput::writeLine(platform::Value(error->userInfo()).description());
            completion({}, error);
            return;
        }
        if (const platform::Dictionary* reply = result.asDictionary()) {
            completion(*reply, std::nullopt);
            return;
        }
        completion({}, PNError(PNError::unknown).toPlatformError());
    };

    std::optional<std::string> authorization = PNAuthToken::authHeader();
    if (!authorization) {
        return PNRequester::instance().refuse(std::move(handler),
                                              PNError(PNError::sessionNotStarted));
    }
    const std::string text = PNAPIConstants::apiProtocol() + "://" + PNAPIConstants::apiRoot() +
                             "/" + PNAPIConstants::sessionAPIPath;
    std::optional<platform::URL> url = platform::URL::fromString(text);
    if (!url) {
        return PNRequester::instance().refuse(
            std::move(handler), platform::makeURLError(platform::URLError::badURL, text));
    }
    return PNRequester::instance().jsonRequest(
        *url, PNAPIConstants::sessionAPIMethod, {{"identity", identity}},
        {{"Authorization", *authorization}}, nullptr, std::move(handler));
}

}  // namespace pindle

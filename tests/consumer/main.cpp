// pindle-consumer: the smallest host of the installed SDK. It starts a session against the
// backend at GATEWAY (plain http, as for a backend on this machine) and lists the first page of
// videos, printing one per line, then sends a picture through the PNG codec; exit status 0 when
// the backend listed at least one video and the picture came back. It links both libraries, as
// a host with a player does.
//
//   pindle-consumer GATEWAY API_TOKEN IDENTITY

#include <chrono>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoFilter.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "PindlePlayer/PindlePlayer.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/media/Image.hpp"

namespace {

constexpr auto timeout = std::chrono::seconds(30);

template <class T>
bool arrives(std::future<T>& future) {
    return future.wait_for(timeout) == std::future_status::ready;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pindle;
    if (argc != 4) {
        std::cerr << "usage: pindle-consumer GATEWAY API_TOKEN IDENTITY\n";
        return 2;
    }
    std::cout << playerLibraryVersion() << "\n";
    PNAPIConstants::setGateway(argv[1], false);

    std::promise<std::optional<platform::Error>> started;
    auto startedResult = started.get_future();
    PNSession::current()->start(argv[2], argv[3],
                                [&started](PNSessionState state, const platform::Dictionary&,
                                           const std::optional<platform::Error>& error) {
                                    if (!error && state != PNSessionState::started)
                                        started.set_value(platform::Error("PindleConsumer", 1));
                                    else
                                        started.set_value(error);
                                });
    if (!arrives(startedResult)) {
        std::cerr << "pindle-consumer: the session did not start in time\n";
        return 1;
    }
    if (auto error = startedResult.get()) {
        std::cerr << "pindle-consumer: session: " << error->localizedDescription() << "\n";
        return 1;
    }

    std::promise<std::shared_ptr<PNVideosResponse>> listed;
    auto listedResult = listed.get_future();
    PNVideoAPI::shared().videosByFilter(
        PNVideoFilter(), "desc",
        [&listed](const std::shared_ptr<PNVideosResponse>& response,
                  const std::optional<platform::Error>& error) {
            if (error)
                std::cerr << "pindle-consumer: list: " << error->localizedDescription() << "\n";
            listed.set_value(error ? nullptr : response);
        });
    if (!arrives(listedResult)) {
        std::cerr << "pindle-consumer: the list did not arrive in time\n";
        return 1;
    }
    auto response = listedResult.get();
    if (!response)
        return 1;
    for (const auto& video : response->videos())
        std::cout << video->videoID() << " " << video->title() << "\n";
    std::cout << response->videos().size() << " of " << response->totalCount() << " videos\n";
    PNSession::current()->stop();
    if (response->videos().empty())
        return 1;

    // The media layer opens FFmpeg on its first use: a picture through the PNG codec shows
    // that the installed libraries find it.
    auto picture = platform::Image::filled(2, 2, {255, 0, 0, 255});
    std::optional<platform::Data> png = picture ? picture->pngData() : std::nullopt;
    if (!png || !platform::Image::fromData(*png)) {
        std::cerr << "pindle-consumer: the media layer cannot encode and decode a picture\n";
        return 1;
    }
    std::cout << "a picture went through the PNG codec\n";
    return 0;
}

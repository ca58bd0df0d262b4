#include "PindleCore/model/PNTokenObject.hpp"

namespace pindle {

const std::shared_ptr<PNTokenObject>& PNTokenObject::sharedInstance() {
    // Never destroyed: guarded calls may still arrive from worker threads at exit.
    static const auto* instance =
        new std::shared_ptr<PNTokenObject>(std::make_shared<PNTokenObject>());
    return *instance;
}

bool PNTokenObject::itsMe(const std::shared_ptr<platform::Object>& object) {
    return platform::isKindOf<PNTokenObject>(object);
}

std::shared_ptr<PNVideo> PNTokenObject::createVideoObject(
    std::string videoID, platform::StringSet tags, platform::StringDictionary metadata,
    std::int64_t width, std::int64_t height, std::optional<platform::Location> location,
    std::optional<platform::Date> shotOn, std::optional<platform::Date> creationDate,
    std::optional<platform::Date> modifyDate, std::string title, std::string videoDescription,
    std::optional<platform::URL> thumbnailImageURL, double duration) {
    if (!shotOn)
        return nullptr;
    PNVideo::Fields fields;
    fields.videoID = std::move(videoID);
    fields.tags = std::move(tags);
    fields.metadata = std::move(metadata);
    fields.width = width;
    fields.height = height;
    fields.location = std::move(location);
    fields.shotOn = *shotOn;
    fields.creationDate = creationDate;
    fields.modifyDate = modifyDate;
    fields.title = std::move(title);
    fields.videoDescription = std::move(videoDescription);
    fields.thumbnailImageURL = std::move(thumbnailImageURL);
    fields.duration = duration;
    fields.state = PNVideoState::processing;
    return PNVideo::make(std::move(fields));
}

}  // namespace pindle

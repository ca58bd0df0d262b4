#include "PindleCore/uploads/PNUploadingStateToPNVideoMapper.hpp"

#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNTokenObject.hpp"

namespace pindle {

PNVideoPtr PNUploadingStateToPNVideoMapper::videoObject(
    const PNUploadingState& record, const std::shared_ptr<platform::Object>& fromObject) {
    if (!PNTokenObject::itsMe(fromObject)) {
        PLOG_ERROR(PLog_Uploading,
                   "PLog_Uploading videoObject refused: the caller is not the "
                   "library");
        return nullptr;
    }
    PNVideo::Fields fields;
    fields.videoID = record.videoID();
    fields.tags = record.tags();
    fields.metadata = record.metadata();
    fields.width = record.width();
    fields.height = record.height();
    fields.location = platform::Location(record.latitude(), record.longitude());
    fields.shotOn = record.shotOn();
    fields.creationDate = record.createdAt();
    fields.title = record.title();
    fields.videoDescription = record.descr();
    fields.duration = 0;
    return PNVideo::make(std::move(fields));
}

}  // namespace pindle

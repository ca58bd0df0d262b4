#include "PindleCore/uploads/PNUploadingState.hpp"

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/model/PNFileSystemHelper.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle {

namespace {

using platform::Array;
using platform::Date;
using platform::Dictionary;
using platform::Value;

constexpr const char* listKey = "data";

Array stringsValue(const std::vector<std::string>& strings) {
    return Array(strings.begin(), strings.end());
}

Value optionalDateValue(const std::optional<Date>& date) {
    return date ? Value(date->timeIntervalSince1970()) : Value();
}

// Readers for the kinds of the dictionary form; each gives nothing for a missing or null key
// and for a value of another kind.
class Reader {
  public:
    explicit Reader(const Dictionary& dictionary) : dictionary_(dictionary) {}

    std::optional<std::string> string(const char* key) const {
        const Value* value = find(key);
        if (value == nullptr || !value->isString())
            return std::nullopt;
        return *value->asString();
    }
    std::optional<platform::StringDictionary> stringDictionary(const char* key) const {
        const Value* value = find(key);
        return value ? value->asStringDictionary() : std::nullopt;
    }
    std::optional<std::vector<std::string>> strings(const char* key) const {
        const Value* value = find(key);
        if (value == nullptr || !value->isArray())
            return std::nullopt;
        std::vector<std::string> result;
        for (const Value& element : *value->asArray()) {
            if (!element.isString())
                return std::nullopt;
            result.push_back(*element.asString());
        }
        return result;
    }
    std::optional<std::int64_t> wholeNumber(const char* key) const {
        const Value* value = find(key);
        return value ? value->asWholeNumber() : std::nullopt;
    }
    std::optional<double> number(const char* key) const {
        const Value* value = find(key);
        return value ? value->asDouble() : std::nullopt;
    }
    std::optional<bool> boolean(const char* key) const {
        const Value* value = find(key);
        return value ? value->asBool() : std::nullopt;
    }

  private:
    const Value* find(const char* key) const {
        auto it = dictionary_.find(key);
        if (it == dictionary_.end() || it->second.isNull())
            return nullptr;
        return &it->second;
    }
    const Dictionary& dictionary_;
};

}  // namespace

PNUploadingState::PNUploadingState(Fields fields)
    : videoID_(std::move(fields.videoID)),
      metadata_(std::move(fields.metadata)),
      tags_(std::move(fields.tags)),
      height_(fields.height),
      width_(fields.width),
      latitude_(fields.latitude),
      longitude_(fields.longitude),
      title_(std::move(fields.title)),
      descr_(std::move(fields.descr)),
      shotOn_(fields.shotOn),
      resolutionsToUpload_(std::move(fields.resolutionsToUpload)),
      createdAt_(fields.createdAt),
      resolutionsUploaded_(std::move(fields.resolutionsUploaded)),
      isRecordingComplete_(fields.isRecordingComplete),
      bytesUploaded_(fields.bytesUploaded),
      isUploaded_(fields.isUploaded),
      isSynced_(fields.isSynced),
      isConverted_(fields.isConverted),
      isImported_(fields.isImported) {}

std::shared_ptr<PNUploadingState> PNUploadingState::internalObjCInit(Fields fields) {
    return std::make_shared<PNUploadingState>(std::move(fields));
}

Dictionary PNUploadingState::encode() const {
    return Dictionary{
        {"videoID", videoID_},
        {"metadata", Value(metadata_)},
        {"tags", Array(tags_.begin(), tags_.end())},
        {"height", height_},
        {"width", width_},
        {"latitude", latitude_},
        {"longitude", longitude_},
        {"title", title_},
        {"descr", descr_},
        {"date", shotOn_.timeIntervalSince1970()},
        {"createdAt", createdAt_.timeIntervalSince1970()},
        {"resolutionsToUpload", stringsValue(resolutionsToUpload_)},
        {"resolutionsUploaded", stringsValue(resolutionsUploaded_)},
        {"urlToUpload", urlToUpload_ ? Value(urlToUpload_->absoluteString()) : Value()},
        {"urlExpirationDate", optionalDateValue(urlExpirationDate_)},
        {"isRecordingComplete", isRecordingComplete_},
        {"bytesUploaded", bytesUploaded_},
        {"isUploaded", isUploaded_},
        {"isSynced", isSynced_},
        {"isConverted", isConverted_},
        {"isImported", isImported_},
    };
}

std::shared_ptr<PNUploadingState> PNUploadingState::decode(const Dictionary& dictionary) {
    const Reader read(dictionary);
    auto videoID = read.string("videoID");
    auto metadata = read.stringDictionary("metadata");
    auto tags = read.strings("tags");
    auto height = read.wholeNumber("height");
    auto width = read.wholeNumber("width");
    auto latitude = read.number("latitude");
    auto longitude = read.number("longitude");
    auto title = read.string("title");
    auto descr = read.string("descr");
    auto shotOn = read.number("date");
    auto createdAt = read.number("createdAt");
    auto resolutionsToUpload = read.strings("resolutionsToUpload");
    auto resolutionsUploaded = read.strings("resolutionsUploaded");
    auto isRecordingComplete = read.boolean("isRecordingComplete");
    auto bytesUploaded = read.wholeNumber("bytesUploaded");
    auto isUploaded = read.boolean("isUploaded");
    auto isSynced = read.boolean("isSynced");
    auto isConverted = read.boolean("isConverted");
    auto isImported = read.boolean("isImported");
    if (!videoID || !metadata || !tags || !height || !width || !latitude || !longitude || !title ||
        !descr || !shotOn || !createdAt || !resolutionsToUpload || !resolutionsUploaded ||
        !isRecordingComplete || !bytesUploaded || !isUploaded || !isSynced || !isConverted ||
        !isImported)
        return nullptr;

    Fields fields;
    fields.videoID = std::move(*videoID);
    fields.tags = platform::StringSet(tags->begin(), tags->end());
    fields.metadata = std::move(*metadata);
    fields.width = *width;
    fields.height = *height;
    fields.latitude = *latitude;
    fields.longitude = *longitude;
    fields.title = std::move(*title);
    fields.descr = std::move(*descr);
    fields.shotOn = Date::fromTimeIntervalSince1970(*shotOn);
    fields.createdAt = Date::fromTimeIntervalSince1970(*createdAt);
    fields.resolutionsToUpload = std::move(*resolutionsToUpload);
    fields.resolutionsUploaded = std::move(*resolutionsUploaded);
    fields.isRecordingComplete = *isRecordingComplete;
    fields.bytesUploaded = *bytesUploaded;
    fields.isUploaded = *isUploaded;
    fields.isSynced = *isSynced;
    fields.isConverted = *isConverted;
    fields.isImported = *isImported;
    auto record = std::make_shared<PNUploadingState>(std::move(fields));
    if (auto url = read.string("urlToUpload"))
        record->urlToUpload_ = platform::URL::fromString(*url);
    if (auto expiry = read.number("urlExpirationDate"))
        record->urlExpirationDate_ = Date::fromTimeIntervalSince1970(*expiry);
    return record;
}

std::optional<platform::Data> PNUploadingState::encode(
    const std::vector<std::shared_ptr<PNUploadingState>>& records) {
    Array list;
    list.reserve(records.size());
    for (const auto& record : records) list.emplace_back(record->encode());
    return platform::Json::serializeToData(Dictionary{{listKey, std::move(list)}});
}

std::optional<std::vector<std::shared_ptr<PNUploadingState>>> PNUploadingState::decode(
    const platform::Data& bytes) {
    auto document = platform::Json::parse(bytes);
    if (!document || !document->isDictionary())
        return std::nullopt;
    const Value* list = document->find(listKey);
    if (list == nullptr || !list->isArray())
        return std::nullopt;
    for (const Value& element : *list->asArray())
        if (!element.isDictionary())
            return std::nullopt;
    std::vector<std::shared_ptr<PNUploadingState>> records;
    for (const Value& element : *list->asArray())
        if (auto record = decode(*element.asDictionary()))
            records.push_back(std::move(record));
    return records;
}

bool PNUploadingState::isEqual(const std::shared_ptr<const platform::Object>& other) const {
    auto record = std::dynamic_pointer_cast<const PNUploadingState>(other);
    if (!record)
        return false;
    return videoID_ == record->videoID_ && metadata_ == record->metadata_ &&
           tags_ == record->tags_ && height_ == record->height_ && width_ == record->width_ &&
           latitude_ == record->latitude_ && longitude_ == record->longitude_ &&
           title_ == record->title_ && descr_ == record->descr_ &&
           resolutionsToUpload_ == record->resolutionsToUpload_ &&
           resolutionsUploaded_ == record->resolutionsUploaded_ &&
           isRecordingComplete_ == record->isRecordingComplete_ &&
           bytesUploaded_ == record->bytesUploaded_ && isUploaded_ == record->isUploaded_ &&
           isSynced_ == record->isSynced_ && isConverted_ == record->isConverted_ &&
           isImported_ == record->isImported_;
}

std::int64_t PNUploadingState::bytes(const std::string& resolution) const {
    // Asked for every range sent: the path goes to the file system without a round trip
    // through a file URL.
    const auto path = PNLocalVideoCache::locationForCache(videoID_, resolution);
    return path ? PNFileSystemHelper::fileSize(*path) : 0;
}

std::int64_t PNUploadingState::totalBytesToUpload() const {
    if (!isConverted_)
        return 0;
    std::int64_t total = 0;
    for (const auto& resolution : resolutionsToUpload_) total += bytes(resolution);
    return total;
}

bool PNUploadingState::requireConvert() const {
    return resolutionsToUpload_.size() == 1 &&
           resolutionsToUpload_.front() == toString(PNVideoResolution::r720p);
}

}  // namespace pindle

#include "platform/photos/PhotoLibrary.hpp"

#include <algorithm>
#include <cctype>

#include "platform/files/AppContainer.hpp"
#include "platform/files/FileLock.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/UUID.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::platform {
namespace {

constexpr const char* indexName = "index.json";
// Held around every read, change and write of the index by any process.
constexpr const char* indexLockName = "index.lock";
// A larger index is not one this library wrote.
constexpr std::uint64_t maxIndexBytes = 32ULL * 1024 * 1024;

thread_local std::vector<AssetChangeRequestPtr>* tCurrentChanges = nullptr;

Error libraryError(std::int64_t code, const std::string& what) {
    return Error(PhotoLibrary::errorDomain, code, {{"NSLocalizedDescription", what}});
}

// A stored file name must stay inside the library's folder.
bool isSafeFileName(const std::string& name) {
    return !name.empty() && name.size() <= 255 && name.find('/') == std::string::npos &&
           name.front() != '.';
}

bool isSafeIdentifier(const std::string& identifier) {
    return !identifier.empty() && identifier.size() <= 64 &&
           std::all_of(identifier.begin(), identifier.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0 || c == '-'; });
}

// The extension to keep for a copied-in file: letters and digits only, short.
std::string safeExtension(const URL& url) {
    std::string extension = url.pathExtension();
    const bool plain =
        extension.size() <= 8 && std::all_of(extension.begin(), extension.end(),
                                             [](unsigned char c) { return std::isalnum(c) != 0; });
    return plain ? extension : std::string();
}

Value encode(const PhotoAsset::Record& record) {
    Dictionary entry{
        {"localIdentifier", record.localIdentifier},
        {"mediaType", record.mediaType == PhotoAsset::MediaType::image ? "image" : "video"},
        {"file", record.file},
        {"creationDate", record.creationDate.timeIntervalSince1970()},
        {"isComposition", record.isComposition},
    };
    if (record.location)
        entry["location"] = Dictionary{{"latitude", record.location->latitude},
                                       {"longitude", record.location->longitude}};
    return entry;
}

std::optional<PhotoAsset::Record> decode(const Value& value) {
    const auto* entry = value.asDictionary();
    if (!entry)
        return std::nullopt;
    auto text = [&](const char* key) -> const std::string* {
        auto it = entry->find(key);
        return it == entry->end() ? nullptr : it->second.asString();
    };
    const auto* identifier = text("localIdentifier");
    const auto* type = text("mediaType");
    const auto* file = text("file");
    if (!identifier || !isSafeIdentifier(*identifier) || !type || !file || !isSafeFileName(*file))
        return std::nullopt;
    PhotoAsset::Record record;
    record.localIdentifier = *identifier;
    if (*type == "image")
        record.mediaType = PhotoAsset::MediaType::image;
    else if (*type == "video")
        record.mediaType = PhotoAsset::MediaType::video;
    else
        return std::nullopt;
    record.file = *file;
    if (auto it = entry->find("creationDate"); it != entry->end())
        record.creationDate = Date::fromTimeIntervalSince1970(it->second.asDouble().value_or(0));
    if (auto it = entry->find("isComposition"); it != entry->end())
        record.isComposition = it->second.asBool().value_or(false);
    if (auto it = entry->find("location"); it != entry->end()) {
        if (const auto* place = it->second.asDictionary()) {
            auto latitude = place->find("latitude"), longitude = place->find("longitude");
            if (latitude != place->end() && longitude != place->end() &&
                latitude->second.asDouble() && longitude->second.asDouble())
                record.location = LocationCoordinate2D{*latitude->second.asDouble(),
                                                       *longitude->second.asDouble()};
        }
    }
    return record;
}

bool isReadableMedia(PhotoAsset::MediaType type, const URL& url) {
    if (!url.isFileURL())
        return false;
    if (type == PhotoAsset::MediaType::video) {
        auto asset = URLAsset::make(url);
        return asset->isReadable() && !asset->tracks().empty();
    }
    auto bytes = FileManager::defaultManager().contentsOfFile(url.path());
    return bytes && Image::fromData(*bytes) != nullptr;
}

}  // namespace

PhotoLibrary& PhotoLibrary::shared() {
    static auto* library = new PhotoLibrary();
    return *library;
}

PhotoLibrary::PhotoLibrary() : queue_(DispatchQueue::create("local.pindle.photo-library")) {
    std::lock_guard lock(mutex_);
    root_ = AppContainer::home() + "/Device/PhotoLibrary";
    loadLocked();
}

std::vector<AssetChangeRequestPtr>* PhotoLibrary::currentChangeList() {
    return tCurrentChanges;
}

std::string PhotoLibrary::root() const {
    std::lock_guard lock(mutex_);
    return root_;
}

void PhotoLibrary::setRoot(std::string path) {
    std::lock_guard lock(mutex_);
    root_ = std::move(path);
    loadLocked();
}

void PhotoLibrary::loadLocked() {
    records_.clear();
    const std::string path = root_ + "/" + indexName;
    const auto& files = FileManager::defaultManager();
    auto attributes = files.attributesOfItem(path);
    if (!attributes || attributes->size > maxIndexBytes)
        return;
    auto bytes = files.contentsOfFile(path);
    if (!bytes)
        return;
    auto index = Json::parse(*bytes);
    const auto* top = index ? index->asDictionary() : nullptr;
    auto assets = top ? top->find("assets") : Dictionary::const_iterator{};
    if (!top || assets == top->end() || !assets->second.asArray())
        return;
    for (const auto& entry : *assets->second.asArray()) {
        if (auto record = decode(entry))
            records_.push_back(std::move(*record));
    }
}

platform::Status PhotoLibrary::saveLocked() const {
    Array assets;
    for (const auto& record : records_) assets.push_back(encode(record));
    auto data = Json::serializeToData(Dictionary{{"assets", std::move(assets)}});
    if (!data)
        return libraryError(storageFailed, "cannot encode the library index");
    const auto& files = FileManager::defaultManager();
    if (platform::Status failure = files.createDirectory(root_, true); !failure.ok())
        return failure;
    return files.writeAtomically(root_ + "/" + indexName, *data);
}

PhotoLibrary::AuthorizationStatus PhotoLibrary::authorizationStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void PhotoLibrary::setAuthorizationStatus(AuthorizationStatus status) {
    std::lock_guard lock(mutex_);
    status_ = status;
}

void PhotoLibrary::setAnswerToNextRequest(AuthorizationStatus status) {
    std::lock_guard lock(mutex_);
    answer_ = status;
}

void PhotoLibrary::requestAuthorization(std::function<void(AuthorizationStatus)> handler) {
    AuthorizationStatus status;
    {
        std::lock_guard lock(mutex_);
        if (status_ == AuthorizationStatus::notDetermined)
            status_ = answer_;
        status = status_;
    }
    DispatchQueue::global()->async([handler = std::move(handler), status] {
        if (handler)
            handler(status);
    });
}

void PhotoLibrary::performChanges(
    std::function<void()> changes,
    std::function<void(bool success, std::optional<Error> error)> completion) {
    queue_->async([this, changes = std::move(changes), completion = std::move(completion)] {
        std::vector<AssetChangeRequestPtr> requests;
        tCurrentChanges = &requests;
        if (changes)
            changes();
        tCurrentChanges = nullptr;

        std::optional<Error> failure;
        if (authorizationStatus() != AuthorizationStatus::authorized)
            failure = libraryError(accessDenied, "access to the photo library was not granted");
        std::vector<PhotoAsset::Record> added;
        const auto& files = FileManager::defaultManager();
        const std::string folder = root();
        for (const auto& request : requests) {
            if (failure)
                break;
            if (!isReadableMedia(request->mediaType(), request->fileURL())) {
                failure = libraryError(invalidResource, "the file is not readable media");
                break;
            }
            PhotoAsset::Record record;
            record.localIdentifier = UUID::random().uuidString();
            record.mediaType = request->mediaType();
            const std::string extension = safeExtension(request->fileURL());
            record.file = record.localIdentifier + (extension.empty() ? "" : "." + extension);
            record.creationDate = request->creationDate.value_or(Date::now());
            record.location = request->location;
            record.isComposition = request->isComposition;
            failure = files.createDirectory(folder, true);
            if (!failure)
                failure = files.copyItem(request->fileURL().path(), folder + "/" + record.file);
            if (failure)
                break;
            added.push_back(std::move(record));
        }
        if (!failure && !added.empty()) {
            // Other processes may share the folder: the index is read again under its lock
            // file, so what they added since it was last read is kept.
            Error lockError;
            const auto indexLock = FileLock::acquire(folder + "/" + indexLockName,
                                                     FileLock::Kind::exclusive, &lockError);
            if (!indexLock)
                failure = lockError;
            std::lock_guard lock(mutex_);
            if (!failure && root_ == folder) {
                loadLocked();
                const auto kept = records_.size();
                records_.insert(records_.end(), added.begin(), added.end());
                failure = saveLocked();
                if (failure)
                    records_.resize(kept);
            } else if (!failure) {
                failure = libraryError(storageFailed, "the library moved during the change");
            }
        }
        if (failure) {
            for (const auto& record : added)
                files.removeItem(folder + "/" + record.file).ignoreError();
        }
        DispatchQueue::global()->async([completion, failure] {
            if (completion)
                completion(!failure.has_value(), failure);
        });
    });
}

std::vector<PhotoAssetPtr> PhotoLibrary::assets(PhotoAsset::MediaType type) const {
    std::lock_guard lock(mutex_);
    std::vector<PhotoAssetPtr> found;
    for (const auto& record : records_) {
        if (type == PhotoAsset::MediaType::unknown || record.mediaType == type)
            found.push_back(std::make_shared<PhotoAsset>(record, root_ + "/" + record.file));
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a->creationDate().timeIntervalSince1970() <
               b->creationDate().timeIntervalSince1970();
    });
    return found;
}

PhotoAssetPtr PhotoLibrary::assetWithLocalIdentifier(const std::string& identifier) const {
    std::lock_guard lock(mutex_);
    for (const auto& record : records_) {
        if (record.localIdentifier == identifier)
            return std::make_shared<PhotoAsset>(record, root_ + "/" + record.file);
    }
    return nullptr;
}

void PhotoLibrary::reset() {
    std::lock_guard lock(mutex_);
    for (const auto& record : records_)
        FileManager::defaultManager().removeItem(root_ + "/" + record.file).ignoreError();
    FileManager::defaultManager().removeItem(root_ + "/" + indexName).ignoreError();
    records_.clear();
    status_ = AuthorizationStatus::notDetermined;
    answer_ = AuthorizationStatus::authorized;
}

}  // namespace pindle::platform

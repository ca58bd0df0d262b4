#include "PindleCore/logging/LGLogFileInfo.hpp"

#include <cstring>

#include "PindleCore/logging/private/LGReport.hpp"
#include "PindleCore/model/PNSafePath.hpp"
#include "platform/files/FileError.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle {

namespace {

const platform::FileManager& files() {
    return platform::FileManager::defaultManager();
}

std::string lastPathComponent(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string systemErrorText(const platform::Error& error) {
    auto code = platform::underlyingPOSIXCode(error);
    return code ? std::strerror(*code) : error.description();
}

}  // namespace

std::shared_ptr<LGLogFileInfo> LGLogFileInfo::logFileWithPath(std::string filePath) {
    return std::make_shared<LGLogFileInfo>(std::move(filePath));
}

LGLogFileInfo::LGLogFileInfo(std::string filePath) : filePath_(std::move(filePath)) {}

const std::string& LGLogFileInfo::fileName() const {
    if (!fileName_) {
        fileName_ = lastPathComponent(filePath_);
    }
    return *fileName_;
}

const std::optional<platform::FileAttributes>& LGLogFileInfo::fileAttributes() const {
    if (!attributesRead_) {
        fileAttributes_ = files().attributesOfItem(filePath_);
        attributesRead_ = true;
    }
    return fileAttributes_;
}

std::optional<platform::Date> LGLogFileInfo::creationDate() const {
    const auto& attributes = fileAttributes();
    return attributes ? std::optional(attributes->creationDate) : std::nullopt;
}

std::optional<platform::Date> LGLogFileInfo::modificationDate() const {
    const auto& attributes = fileAttributes();
    return attributes ? std::optional(attributes->modificationDate) : std::nullopt;
}

std::uint64_t LGLogFileInfo::fileSize() const {
    if (fileSize_ == 0) {
        const auto& attributes = fileAttributes();
        fileSize_ = attributes ? attributes->size : 0;
    }
    return fileSize_;
}

platform::TimeInterval LGLogFileInfo::age() const {
    auto created = creationDate();
    return created ? -created->timeIntervalSinceNow() : 0;
}

bool LGLogFileInfo::isArchived() const {
    return hasExtendedAttributeWithName(archivedAttributeName);
}

void LGLogFileInfo::setIsArchived(bool archived) {
    if (archived) {
        addExtendedAttributeWithName(archivedAttributeName);
    } else {
        removeExtendedAttributeWithName(archivedAttributeName);
    }
}

void LGLogFileInfo::reset() {
    fileName_.reset();
    attributesRead_ = false;
    fileAttributes_.reset();
}

void LGLogFileInfo::renameFile(const std::string& newFileName) {
    if (newFileName == fileName()) {
        return;
    }
    auto slash = filePath_.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : filePath_.substr(0, slash);
    // A name that would leave the folder (or name the folder itself) renames nothing.
    const std::optional<std::string> checked = PNSafePath::inFolder(folder, newFileName);
    if (!checked) {
        LGReport("LGLogFileInfo: Error renaming file (" + fileName() +
                 "): not a file name: " + newFileName);
        return;
    }
    std::string newPath = slash == std::string::npos ? newFileName : *checked;
    if (files().fileExists(newPath)) {
        if (platform::Status status = files().removeItem(newPath); !status.ok()) {
            LGReport("LGLogFileInfo: Error deleting archive (" + newFileName +
                     "): " + status.error().description());
        }
    }
    if (platform::Status status = files().moveItem(filePath_, newPath); !status.ok()) {
        LGReport("LGLogFileInfo: Error renaming file (" + fileName() +
                 "): " + status.error().description());
    }
    filePath_ = std::move(newPath);
    reset();
}

bool LGLogFileInfo::hasExtendedAttributeWithName(const std::string& name) const {
    return files().hasExtendedAttribute(filePath_, name);
}

void LGLogFileInfo::addExtendedAttributeWithName(const std::string& name) {
    if (platform::Status status = files().setExtendedAttribute(filePath_, name, {}); !status.ok()) {
        LGReport("LGLogFileInfo: setxattr(" + name + ", " + fileName() +
                 "): status = " + systemErrorText(status.error()));
    }
}

void LGLogFileInfo::removeExtendedAttributeWithName(const std::string& name) {
    if (platform::Status status = files().removeExtendedAttribute(filePath_, name); !status.ok()) {
        LGReport("LGLogFileInfo: removexattr(" + name + ", " + fileName() +
                 "): status = " + systemErrorText(status.error()));
    }
}

bool LGLogFileInfo::reverseCompareByCreationDate(const LGLogFileInfo& a, const LGLogFileInfo& b) {
    return a.creationDate().value_or(platform::Date()) >
           b.creationDate().value_or(platform::Date());
}

bool LGLogFileInfo::reverseCompareByModificationDate(const LGLogFileInfo& a,
                                                     const LGLogFileInfo& b) {
    return a.modificationDate().value_or(platform::Date()) >
           b.modificationDate().value_or(platform::Date());
}

std::string LGLogFileInfo::description() const {
    auto date = [](const std::optional<platform::Date>& d) {
        return d ? std::to_string(d->timeIntervalSince1970()) : std::string();
    };
    return "{age = " + std::to_string(age()) + "; creationDate = " + date(creationDate()) +
           "; fileAttributes = " + (fileAttributes() ? "present" : "") +
           "; fileName = " + fileName() + "; filePath = " + filePath_ +
           "; fileSize = " + std::to_string(fileSize()) +
           "; isArchived = " + (isArchived() ? "1" : "0") +
           "; modificationDate = " + date(modificationDate()) + "}";
}

}  // namespace pindle

#include "PindleCore/uploads/PUploadSourceFile.hpp"

namespace pindle::legacy {

platform::Data PUploadSourceFile::read(const std::string& path, std::uint64_t offset,
                                       std::size_t length) {
    if (file_ && (file_->path() != path || !file_->isStillAtPath()))
        close();
    if (!file_)
        file_ = platform::FileHandle::open(path, platform::FileHandle::Mode::reading);
    if (!file_)
        return {};
    return file_->read(offset, length).value_or(platform::Data{});
}

void PUploadSourceFile::close() {
    if (file_)
        file_->close().ignoreError();
    file_.reset();
}

}  // namespace pindle::legacy

#include "platform/media/private/FFmpegSupport.hpp"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>

#include "platform/files/FileError.hpp"
#include "platform/foundation/MediaError.hpp"

namespace pindle::platform {
namespace {

TEST(FFmpegSupportTest, OnlyAFullVolumeOrSpentQuotaIsReportedAsDiskFull) {
    struct Case {
        int code;
        const char* domain;
        std::int64_t errorCode;
        std::optional<int> underlying;
    };
    const Case cases[] = {
        {AVERROR(ENOSPC), MediaError::domain, MediaError::diskFull, ENOSPC},
        {AVERROR(EDQUOT), MediaError::domain, MediaError::diskFull, EDQUOT},
        {AVERROR(EIO), POSIXError::domain, EIO, std::nullopt},
        {AVERROR(EFBIG), POSIXError::domain, EFBIG, std::nullopt},
        {AVERROR_INVALIDDATA, MediaError::domain, MediaError::unknown, std::nullopt},
        {AVERROR_MUXER_NOT_FOUND, MediaError::domain, MediaError::unknown, std::nullopt},
    };
    for (const Case& c : cases) {
        const Error error = ffmpeg::makeWriteError(c.code, "Writing failed");
        EXPECT_EQ(error.domain(), c.domain) << c.code;
        EXPECT_EQ(error.code(), c.errorCode) << c.code;
        EXPECT_EQ(underlyingPOSIXCode(error), c.underlying) << c.code;
    }
}

}  // namespace
}  // namespace pindle::platform

// The names of the notifications the SDK posts on the default notification center.
//
// Each name's text is exactly the constant's name, so code that posts or observes by text
// (the legacy part, or a host) meets code that uses the constants.
#pragma once

namespace pindle::NotificationName {

inline constexpr const char* PNVideoCreated = "PNVideoCreated";
inline constexpr const char* PNVideoUpdated = "PNVideoUpdated";
inline constexpr const char* PNVideoDeleted = "PNVideoDeleted";
inline constexpr const char* PNLocalVideoCleanedUp = "PNLocalVideoCleanedUp";
inline constexpr const char* PNAccountStateChanged = "PNAccountStateChanged";
inline constexpr const char* PNVideoUploadProgress = "PNVideoUploadProgress";
inline constexpr const char* PNVideoUploadComplete = "PNVideoUploadComplete";
inline constexpr const char* PNVideoUploadFailed = "PNVideoUploadFailed";
inline constexpr const char* PNVideoUploadCanceled = "PNVideoUploadCanceled";
inline constexpr const char* PNVideoIsUploaded = "PNVideoIsUploaded";
inline constexpr const char* PNVideoUploadStarted = "PNVideoUploadStarted";
inline constexpr const char* PNVideoIsRecordered = "PNVideoIsRecordered";
inline constexpr const char* PNVideoRecordingFailed = "PNVideoRecordingFailed";
inline constexpr const char* PNPlaylistUpdated = "PNPlaylistUpdated";
inline constexpr const char* PNPlayerUpdated = "PNPlayerUpdated";
inline constexpr const char* PNVideoPlaybackFailed = "PNVideoPlaybackFailed";
inline constexpr const char* PNVideoDataCachingFinished = "PNVideoDataCachingFinished";
inline constexpr const char* PNVideoUploadsUpdated = "PNVideoUploadsUpdated";

// Internal to the library: the host can observe it only by its text.
inline constexpr const char* PNMetadataValidationError = "PNMetadataValidationError";

}  // namespace pindle::NotificationName

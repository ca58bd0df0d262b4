// PNUpload: one entry of the uploads list: a video on its way to the backend, with its
// thumbnail, the fraction of its bytes sent (in steps of 0.01) and whether its file has been
// converted.
//
// The list keeps one entry object per video and updates it in place, so a host that holds an
// entry sees its progress move.
//
// Thread-safety: every accessor is safe from any thread (the fields are guarded by the entry's
// own mutex). Calls nothing back.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Object.hpp"

namespace pindle {

class PNUpload : public platform::Object {
  public:
    // `thumb` is the thumbnail image, or null.
    PNUpload(std::string videoID, std::shared_ptr<platform::Object> thumb, float progress,
             bool isCompressed);

    std::string videoID() const;
    void setVideoID(std::string value);
    std::shared_ptr<platform::Object> thumb() const;
    void setThumb(std::shared_ptr<platform::Object> value);
    float progress() const;
    void setProgress(float value);
    bool isCompressed() const;
    void setIsCompressed(bool value);

  private:
    mutable std::mutex mutex_;
    std::string videoID_;                      // guarded by mutex_
    std::shared_ptr<platform::Object> thumb_;  // guarded by mutex_
    float progress_;                           // guarded by mutex_
    bool isCompressed_;                        // guarded by mutex_
};

using PNUploadPtr = std::shared_ptr<PNUpload>;

}  // namespace pindle

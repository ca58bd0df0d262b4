// CaptureMetadataOutput: reports what is recognised in the camera's pictures (QR codes), one
// list per picture that holds any, for the types asked for.
//
// Thread-safety: all operations are safe from any thread. The delegate is held weakly and
// called on its queue.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture/CaptureOutput.hpp"
#include "platform/capture/MetadataObject.hpp"

namespace pindle::platform {

class CaptureMetadataOutput;

class CaptureMetadataOutputObjectsDelegate {
  public:
    virtual ~CaptureMetadataOutputObjectsDelegate() = default;
    virtual void captureOutput(CaptureMetadataOutput& output,
                               const std::vector<MetadataObject>& objects,
                               CaptureConnection& connection) = 0;
};

class CaptureMetadataOutput : public CaptureOutput {
  public:
    static std::shared_ptr<CaptureMetadataOutput> make() {
        return std::make_shared<CaptureMetadataOutput>();
    }
    CaptureMetadataOutput() : CaptureOutput(CaptureMediaType::video) {}

    std::vector<std::string> availableMetadataObjectTypes() const {
        return {MetadataObject::typeQRCode};
    }
    std::vector<std::string> metadataObjectTypes() const;
    void setMetadataObjectTypes(std::vector<std::string> types);
    void setMetadataObjectsDelegate(std::weak_ptr<CaptureMetadataOutputObjectsDelegate> delegate,
                                    std::shared_ptr<Executor> queue);
    std::shared_ptr<CaptureMetadataOutputObjectsDelegate> metadataObjectsDelegate() const;

    // Hands the objects of the asked-for types to the delegate on its queue; nothing when
    // none is left.
    void deliver(const std::vector<MetadataObject>& objects);

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> types_;  // guarded by mutex_
    // by hand: set together with its queue, which the pair's one lock keeps matched
    std::weak_ptr<CaptureMetadataOutputObjectsDelegate> delegate_;  // guarded by mutex_
    std::shared_ptr<Executor> queue_;                               // guarded by mutex_
};

}  // namespace pindle::platform

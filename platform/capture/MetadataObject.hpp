// MetadataObject: something a metadata output recognised in the picture (a QR code).
//
// Thread-safety: a plain value.
#pragma once

#include <string>

namespace pindle::platform {

struct MetadataObject {
    static constexpr const char* typeQRCode = "org.iso.QRCode";

    std::string type;
    std::string stringValue;
    bool operator==(const MetadataObject&) const = default;
};

}  // namespace pindle::platform

// PBundle: the core library's own resource bundle and the legacy lookups on it: images by
// name and localised texts. The bundle "mb.PSDK" is compiled into the core library from
// PindleCore/resources/mb.PSDK (the slider's thumb picture, the recorder's microphone and the
// library's texts) and registered when it loads; a host may register its own "mb.PSDK", or
// "com.P.Pinlet" as the fallback identifier, instead.
//
// Thread-safety: all functions are safe from any thread. No callbacks.
#pragma once

#include <string>

#include "platform/files/ResourceBundle.hpp"
#include "platform/media/Image.hpp"

namespace pindle::legacy {

inline constexpr const char* kPSDKBundleIdentifier = "mb.PSDK";
inline constexpr const char* kPinletBundleIdentifier = "com.P.Pinlet";

// The bundle "mb.PSDK", else "com.P.Pinlet"; looked up once per process. Null when neither
// is registered.
platform::ResourceBundlePtr frameworkBundle();
// The framework bundle's image of that exact name, else with type "png"; null when neither
// loads.
platform::ImagePtr bundleImageNamed(const std::string& name);
// The framework bundle's text for `key` in the default table; the key itself when missing,
// as the platform answers for an empty default.
std::string bundleLocalizedString(const std::string& key);

}  // namespace pindle::legacy

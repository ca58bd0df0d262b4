// The core library's own bundle, compiled in: found by identifier, with the slider's thumb, the
// recorder's microphone and the library's texts.
#include <gtest/gtest.h>

#include "PindleCore/legacy/PBundle.hpp"

namespace pindle::legacy {
namespace {

TEST(PBundleTest, TheCoreBundleCarriesTheThumbPictureAndTheLibrarysTexts) {
    auto bundle = frameworkBundle();
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->identifier(), kPSDKBundleIdentifier);
    auto thumb = bundleImageNamed("slider@2x");
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->pixelWidth(), 120);
    auto microphone = bundleImageNamed("recorder_btn_mic");
    ASSERT_TRUE(microphone);
    EXPECT_EQ(microphone->pixelHeight(), 237);
    EXPECT_EQ(bundleImageNamed("no such picture"), nullptr);
    const std::string text = bundleLocalizedString("P_ERROR_WrongNotLibrary");
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text, "P_ERROR_WrongNotLibrary");
}

}  // namespace
}  // namespace pindle::legacy

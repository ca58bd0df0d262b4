#include "PindleCore/legacy/PVideoWriterInput.hpp"

namespace pindle::legacy {

namespace {

platform::AssetWriterInput::VideoSettings settingsFor(const platform::ui::Rect& rect) {
    platform::AssetWriterInput::VideoSettings settings;
    settings.width = PVideoWriterInput::width;
    settings.height = PVideoWriterInput::height;
    settings.averageBitRate = PVideoWriterInput::averageBitRate;
    settings.maxKeyFrameInterval = PVideoWriterInput::maxKeyFrameInterval;
    settings.cleanAperture = platform::AssetWriterInput::CleanAperture{
        rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
    return settings;
}

}  // namespace

PVideoWriterInput::PVideoWriterInput(const platform::ui::Rect& rect)
    : AssetWriterInput(settingsFor(rect)) {
    setExpectsMediaDataInRealTime(true);
}

}  // namespace pindle::legacy

#include "PindlePlayer/PindlePlayer.hpp"

namespace pindle {

std::string playerLibraryVersion() {
    return "PindlePlayer " PINDLE_VERSION;
}

}  // namespace pindle

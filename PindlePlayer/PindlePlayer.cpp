#include "PindlePlayer/PindlePlayer.hpp"

namespace pindle {

std::string playerLibraryVersion() { return "PindlePlayer 0.1.0"; }

}  // namespace pindle

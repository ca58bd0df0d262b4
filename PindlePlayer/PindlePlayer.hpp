// The player library's version, and the one place that ties it to the core library it links.
#pragma once

#include <string>

namespace pindle {

// "PindlePlayer <version>".
std::string playerLibraryVersion();

}  // namespace pindle

#include "PindleCore/logging/LGExtractFileNameWithoutExtension.hpp"

namespace pindle {

std::optional<std::string_view> LGExtractFileNameWithoutExtension(const char* path) {
    if (path == nullptr) {
        return std::nullopt;
    }
    return LGExtractFileNameWithoutExtension(std::string_view(path));
}

std::string_view LGExtractFileNameWithoutExtension(std::string_view path) {
    std::size_t start = 0;
    std::size_t end = path.size();
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '/') {
            start = i + 1;
            end = path.size();
        } else if (path[i] == '.') {
            end = i;
        }
    }
    return path.substr(start, end - start);
}

}  // namespace pindle

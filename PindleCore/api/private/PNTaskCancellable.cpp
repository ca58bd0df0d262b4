#include "PindleCore/api/private/PNTaskCancellable.hpp"

#include <cctype>
#include <vector>

#include "PindleCore/model/PNLogger.hpp"
#include "platform/foundation/Text.hpp"

namespace pindle {

namespace {

bool isUUIDText(const std::string& text) {
    static constexpr std::size_t groups[] = {8, 4, 4, 4, 12};
    std::size_t at = 0;
    for (std::size_t g = 0; g < 5; ++g) {
        for (std::size_t i = 0; i < groups[g]; ++i, ++at) {
            if (at >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[at]))) {
                return false;
            }
        }
        if (g < 4) {
            if (at >= text.size() || text[at] != '-')
                return false;
            ++at;
        }
    }
    return at == text.size();
}

}  // namespace

std::string PNTaskCancellable::lastButOnePiece(const std::string& urlText) {
    std::vector<std::string> pieces = platform::Text::split(urlText, '/', true);
    return pieces.size() < 2 ? std::string() : pieces[pieces.size() - 2];
}

std::string PNTaskCancellable::cancellationLabel(const std::string& urlText) {
    const std::string piece = lastButOnePiece(urlText);
    return isUUIDText(piece) ? "VIDEO_" + piece : urlText;
}

void PNTaskCancellable::cancelIt() {
    const platform::URLRequest request = task_->currentRequest();
    const std::optional<platform::URL>& url = request.url();
    PNLogger(PNLoggerType::RQST)
        .log("DATA_REQUEST_CANCELLED_" + cancellationLabel(url ? url->absoluteString() : ""));
    task_->cancel();
}

}  // namespace pindle

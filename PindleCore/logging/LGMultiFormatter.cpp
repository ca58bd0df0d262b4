#include "PindleCore/logging/LGMultiFormatter.hpp"

#include <algorithm>

namespace pindle {

std::optional<std::string> LGMultiFormatter::formatLogMessage(const LGLogMessage& logMessage) {
    std::optional<std::string> line = logMessage.message();
    for (const auto& formatter : formatters()) {
        line = formatter->formatLogMessage(logMessage.withMessage(std::move(*line)));
        if (!line) {
            return std::nullopt;
        }
    }
    return line;
}

std::vector<LGLogFormatterPtr> LGMultiFormatter::formatters() const {
    std::scoped_lock lock(mutex_);
    return formatters_;
}

void LGMultiFormatter::addFormatter(LGLogFormatterPtr formatter) {
    if (!formatter) {
        return;
    }
    std::scoped_lock lock(mutex_);
    formatters_.push_back(std::move(formatter));
}

void LGMultiFormatter::removeFormatter(const LGLogFormatterPtr& formatter) {
    std::scoped_lock lock(mutex_);
    std::erase(formatters_, formatter);
}

void LGMultiFormatter::removeAllFormatters() {
    std::scoped_lock lock(mutex_);
    formatters_.clear();
}

bool LGMultiFormatter::isFormattingWithFormatter(const LGLogFormatterPtr& formatter) const {
    std::scoped_lock lock(mutex_);
    return std::find(formatters_.begin(), formatters_.end(), formatter) != formatters_.end();
}

}  // namespace pindle

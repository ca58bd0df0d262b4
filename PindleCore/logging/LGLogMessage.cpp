#include "PindleCore/logging/LGLogMessage.hpp"

#include <cstdio>

#include "PindleCore/logging/LGExtractFileNameWithoutExtension.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/ThreadIdentity.hpp"

namespace pindle {

namespace {

std::string hexadecimal(std::uint64_t number) {
    char buffer[sizeof(number) * 2 + 1];
    std::snprintf(buffer, sizeof buffer, "%llx", static_cast<unsigned long long>(number));
    return buffer;
}

// Where the calling thread's previous message came from.
thread_local std::shared_ptr<const LGLogMessage::Origin> recentOrigin;

}  // namespace

LGLogMessage::LGLogMessage(std::string message, LGLogLevel level, LGLogFlag flag,
                           std::int64_t context, std::string_view file, std::string_view function,
                           std::uint64_t line, platform::ObjectPtr tag, std::int64_t options,
                           std::optional<platform::Date> timestamp)
    : message_(std::move(message)),
      flag_(flag),
      timestamp_(timestamp ? *timestamp : platform::Date::now()),
      level_(level),
      context_(context),
      line_(line),
      tag_(std::move(tag)),
      options_(options) {
    const std::uint64_t threadNumber = platform::ThreadIdentity::currentThreadID();
    const std::string_view threadName = platform::ThreadIdentity::currentThreadNameView();
    const std::string_view queueLabel = platform::DispatchQueue::currentLabelView();
    const Origin* recent = recentOrigin.get();
    if (recent == nullptr || recent->threadNumber != threadNumber || recent->file != file ||
        recent->function != function || recent->threadName != threadName ||
        recent->queueLabel != queueLabel) {
        auto origin = std::make_shared<Origin>();
        origin->fileName = LGExtractFileNameWithoutExtension(file);
        origin->file = file;
        origin->function = function;
        origin->threadNumber = threadNumber;
        origin->threadID = hexadecimal(threadNumber);
        origin->threadName = threadName;
        origin->queueLabel = queueLabel;
        recentOrigin = std::move(origin);
    }
    origin_ = recentOrigin;
}

LGLogMessage LGLogMessage::withMessage(std::string message) const {
    LGLogMessage copy = *this;
    copy.message_ = std::move(message);
    return copy;
}

}  // namespace pindle

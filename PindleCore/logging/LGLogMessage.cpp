#include "PindleCore/logging/LGLogMessage.hpp"

#include <cstdio>

#include "PindleCore/logging/LGExtractFileNameWithoutExtension.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/log/ThreadIdentity.hpp"

namespace pindle {

namespace {

std::string hexadecimal(std::uint64_t number) {
    char buffer[sizeof(number) * 2 + 1];
    std::snprintf(buffer, sizeof buffer, "%llx", static_cast<unsigned long long>(number));
    return buffer;
}

}  // namespace

LGLogMessage::LGLogMessage(std::string message, LGLogLevel level, LGLogFlag flag,
                           std::int64_t context, std::string file, std::string function,
                           std::uint64_t line, platform::ObjectPtr tag, std::int64_t options,
                           std::optional<platform::Date> timestamp)
    : message_(std::move(message)),
      level_(level),
      flag_(flag),
      context_(context),
      file_(std::move(file)),
      fileName_(LGExtractFileNameWithoutExtension(std::string_view(file_))),
      function_(std::move(function)),
      line_(line),
      tag_(std::move(tag)),
      options_(options),
      timestamp_(timestamp ? *timestamp : platform::Date::now()),
      threadID_(hexadecimal(platform::ThreadIdentity::currentThreadID())),
      threadName_(platform::ThreadIdentity::currentThreadName()),
      queueLabel_(platform::DispatchQueue::currentLabel()) {}

LGLogMessage LGLogMessage::withMessage(std::string message) const {
    LGLogMessage copy = *this;
    copy.message_ = std::move(message);
    return copy;
}

}  // namespace pindle

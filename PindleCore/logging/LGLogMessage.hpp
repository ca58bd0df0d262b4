// LGLogMessage: one log record as the hub hands it to its loggers: the text, its flag and
// level, where it was logged (file, function, line), by whom (thread, queue) and when.
//
// The creating thread's identity is captured at construction, so loggers that run later on
// their own queues still show where the message came from.
//
// Where a message comes from (source file and its name, function, thread id and name, queue
// label) is shared with the same thread's previous message when all of it is equal, so a
// message carries one counted reference for them instead of six texts.
//
// Thread-safety: immutable after construction; share it freely.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PindleCore/logging/LGLogFlag.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle {

class LGLogMessage {
  public:
    // A missing timestamp means "now" on the process clock.
    LGLogMessage(std::string message, LGLogLevel level, LGLogFlag flag, std::int64_t context,
                 std::string_view file, std::string_view function, std::uint64_t line,
                 platform::ObjectPtr tag = nullptr, std::int64_t options = 0,
                 std::optional<platform::Date> timestamp = std::nullopt);

    // The same record with another text (formatter chains hand each link such a copy).
    LGLogMessage withMessage(std::string message) const;

    const std::string& message() const { return message_; }
    LGLogLevel level() const { return level_; }
    LGLogFlag flag() const { return flag_; }
    std::int64_t context() const { return context_; }
    const std::string& file() const { return origin_->file; }
    // The last path component of file() without its extension.
    const std::string& fileName() const { return origin_->fileName; }
    const std::string& function() const { return origin_->function; }
    std::uint64_t line() const { return line_; }
    const platform::ObjectPtr& tag() const { return tag_; }
    std::int64_t options() const { return options_; }
    platform::Date timestamp() const { return timestamp_; }
    // The creating thread's kernel id in lower-case hexadecimal.
    const std::string& threadID() const { return origin_->threadID; }
    // The creating thread's name; empty when it has none.
    const std::string& threadName() const { return origin_->threadName; }
    // The label of the dispatch queue the message was created on; empty off any queue.
    const std::string& queueLabel() const { return origin_->queueLabel; }

    // What the accessors above read, shared by the messages of one thread and call site.
    struct Origin {
        std::string file;
        std::string fileName;
        std::string function;
        std::uint64_t threadNumber = 0;
        std::string threadID;
        std::string threadName;
        std::string queueLabel;
    };

  private:
    // What every logger reads comes first, within 64 bytes: a message handed to another
    // thread then costs that thread one cache line besides its text.
    std::string message_;
    LGLogFlag flag_;
    platform::Date timestamp_;
    std::shared_ptr<const Origin> origin_;
    LGLogLevel level_;
    std::int64_t context_;
    std::uint64_t line_;
    platform::ObjectPtr tag_;
    std::int64_t options_;
};

using LGLogMessagePtr = std::shared_ptr<const LGLogMessage>;

}  // namespace pindle

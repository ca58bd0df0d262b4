// LGLogFormatter: turns a log message into the text a logger writes, or drops it.
//
// A formatter may serve several loggers, so formatLogMessage() can be called from several
// logger queues at once: implementations must be safe for that. The add and remove hooks
// run on the logger's queue.
//
// A logger treats a result that differs from the message's own text as custom-formatted (it
// then writes it as it is, without its own line decoration); an equal text counts as the
// message's own.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "PindleCore/logging/LGLogMessage.hpp"

namespace pindle {

class LGLogger;

class LGLogFormatter {
  public:
    virtual ~LGLogFormatter() = default;

    // The text to write for `logMessage`, or nothing to drop it.
    virtual std::optional<std::string> formatLogMessage(const LGLogMessage& logMessage) = 0;

    virtual void didAddToLogger(LGLogger& logger) { (void)logger; }
    virtual void willRemoveFromLogger(LGLogger& logger) { (void)logger; }
};

using LGLogFormatterPtr = std::shared_ptr<LGLogFormatter>;

}  // namespace pindle

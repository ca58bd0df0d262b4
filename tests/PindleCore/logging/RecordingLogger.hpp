// A logger for tests: keeps every message it receives (and where it ran), and can be held
// inside logMessage() until the test lets it go.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PindleCore/logging/LGAbstractLogger.hpp"
#include "PindleCore/logging/LGLog.hpp"

namespace pindle::testing {

class RecordingLogger : public LGAbstractLogger {
  public:
    explicit RecordingLogger(std::string name = "test.recordingLogger")
        : LGAbstractLogger(std::move(name)) {}

    void logMessage(const LGLogMessage& message) override {
        std::unique_lock lock(mutex_);
        ++entered_;
        changed_.notify_all();
        // Bounded, so a test that fails before its release() ends instead of hanging here.
        if (!changed_.wait_for(lock, std::chrono::seconds(20), [&] { return !held_; }))
            ADD_FAILURE() << "a held logger was never released";
        std::optional<std::string> text =
            formatter_ ? formatter_->formatLogMessage(message) : message.message();
        messages_.push_back(message);
        texts_.push_back(text.value_or("<dropped>"));
        ranOnOwnQueue_ = ranOnOwnQueue_ && isOnInternalLoggerQueue();
        changed_.notify_all();
    }
    void didLogMessageBatch() override {
        std::scoped_lock lock(mutex_);
        batchSizes_.push_back(messages_.size() - messagesBeforeBatch_);
        messagesBeforeBatch_ = messages_.size();
    }
    void didAddLogger() override { note("add"); }
    void willRemoveLogger() override { note("remove"); }
    void flush() override { note("flush"); }

    void hold() {
        std::scoped_lock lock(mutex_);
        held_ = true;
    }
    void release() {
        std::scoped_lock lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    bool waitUntilEntered(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return entered_ >= count; });
    }
    bool waitForMessages(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return messages_.size() >= count; });
    }

    std::vector<LGLogMessage> messages() const {
        std::scoped_lock lock(mutex_);
        return messages_;
    }
    std::vector<std::string> texts() const {
        std::scoped_lock lock(mutex_);
        return texts_;
    }
    std::vector<LGLogFlag> flags() const {
        std::scoped_lock lock(mutex_);
        std::vector<LGLogFlag> flags;
        for (const auto& message : messages_) {
            flags.push_back(message.flag());
        }
        return flags;
    }
    std::vector<std::string> events() const {
        std::scoped_lock lock(mutex_);
        return events_;
    }
    // How many messages each batch from the hub held, in order.
    std::vector<std::size_t> batchSizes() const {
        std::scoped_lock lock(mutex_);
        return batchSizes_;
    }
    bool ranOnOwnQueue() const {
        std::scoped_lock lock(mutex_);
        return ranOnOwnQueue_;
    }

  private:
    void note(const std::string& event) {
        std::scoped_lock lock(mutex_);
        events_.push_back(event);
        ranOnOwnQueue_ = ranOnOwnQueue_ && isOnInternalLoggerQueue();
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;                    // guarded by mutex_
    int entered_ = 0;                      // guarded by mutex_
    std::vector<LGLogMessage> messages_;   // guarded by mutex_
    std::vector<std::string> texts_;       // guarded by mutex_
    std::vector<std::string> events_;      // guarded by mutex_
    bool ranOnOwnQueue_ = true;            // guarded by mutex_
    std::vector<std::size_t> batchSizes_;  // guarded by mutex_
    std::size_t messagesBeforeBatch_ = 0;  // guarded by mutex_
};

// Empties the hub and waits until that has happened.
inline void resetHub() {
    LGLog::removeAllLoggers();
    LGLog::allLoggers();
}

}  // namespace pindle::testing

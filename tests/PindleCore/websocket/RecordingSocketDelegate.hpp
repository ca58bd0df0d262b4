// A WebSocket delegate for tests that records every call, from whatever queue it runs on,
// and lets the test wait for a kind of call. It implements every method but
// webSocketDidReceiveMessage unless told which ones it implements.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PindleCore/websocket/WSWebSocket.hpp"
#include "platform/foundation/Boxed.hpp"

namespace pindle::testing {

class RecordingSocketDelegate : public WSWebSocketDelegate {
  public:
    struct Call {
        explicit Call(std::string kind, std::string text = {}, int code = 0, bool clean = false)
            : kind(std::move(kind)), text(std::move(text)), code(code), clean(clean) {}
        // "open", "string", "data", "fail", "close", "ping", "pong", and for
        // webSocketDidReceiveMessage "message-string" or "message-data"
        std::string kind;
        std::string text;  // message text or bytes, close reason
        int code = 0;      // close code
        bool clean = false;
        platform::Error error;
    };

    explicit RecordingSocketDelegate(bool convertText = true,
                                     std::optional<std::set<Method>> implemented = std::nullopt)
        : convertText_(convertText), implemented_(std::move(implemented)) {}

    bool implements(Method method) const override {
        if (implemented_)
            return implemented_->count(method) > 0;
        return method != Method::didReceiveMessage;
    }
    void webSocketDidReceiveMessage(WSWebSocket&, const platform::Value& message) override {
        if (const std::string* text = message.asString())
            add(Call("message-string", *text));
        else if (auto bytes = message.asObjectOf<platform::Boxed<platform::Data>>())
            add(Call("message-data", platform::stringFromData(bytes->value())));
        else
            add(Call("message-other"));
    }

    void webSocketDidReceiveMessageWithString(WSWebSocket&, const std::string& text) override {
        add(Call("string", text));
    }
    void webSocketDidReceiveMessageWithData(WSWebSocket&, const platform::Data& data) override {
        add(Call("data", std::string(data.begin(), data.end())));
    }
    void webSocketDidOpen(WSWebSocket&) override { add(Call("open")); }
    void webSocketDidFailWithError(WSWebSocket&, const platform::Error& error) override {
        Call call("fail");
        call.error = error;
        add(call);
    }
    void webSocketDidCloseWithCode(WSWebSocket&, int code, const std::optional<std::string>& reason,
                                   bool clean) override {
        add(Call("close", reason.value_or(""), code, clean));
    }
    void webSocketDidReceivePing(WSWebSocket&, const platform::Data& data) override {
        add(Call("ping", std::string(data.begin(), data.end())));
    }
    void webSocketDidReceivePong(WSWebSocket&, const platform::Data& data) override {
        add(Call("pong", std::string(data.begin(), data.end())));
    }
    bool webSocketShouldConvertTextFrameToString(WSWebSocket&) override { return convertText_; }

    // The first call of `kind`, once it has come.
    std::optional<Call> waitFor(const std::string& kind,
                                std::chrono::seconds timeout = std::chrono::seconds(10)) {
        return waitForOneOf({kind}, timeout);
    }
    // The first call of any of `kinds`, once one has come.
    std::optional<Call> waitForOneOf(const std::vector<std::string>& kinds,
                                     std::chrono::seconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        std::optional<Call> found;
        changed_.wait_for(lock, timeout, [&] {
            for (const auto& call : calls_)
                if (std::find(kinds.begin(), kinds.end(), call.kind) != kinds.end()) {
                    found = call;
                    return true;
                }
            return false;
        });
        return found;
    }

    // Whether `count` calls of any kind have come before the timeout.
    bool waitForCount(std::size_t count, std::chrono::seconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return calls_.size() >= count; });
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<std::string> kinds() const {
        std::vector<std::string> result;
        for (const auto& call : calls()) result.push_back(call.kind);
        return result;
    }

  private:
    void add(Call call) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
        }
        changed_.notify_all();
    }

    const bool convertText_;
    const std::optional<std::set<Method>> implemented_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;  // guarded by mutex_
};

}  // namespace pindle::testing

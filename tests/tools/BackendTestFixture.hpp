#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "TestHttpClient.hpp"
#include "tools/emulator/BackendDate.hpp"
#include "tools/emulator/BackendEmulator.hpp"
#include "tools/emulator/Base64.hpp"

namespace pindle::emulator::test {

// An emulator on a clock the test moves by hand, with an empty store unless a test puts
// videos in, and a client connected to it.
// Thread-safety: the test's thread only; the clock may be read from the emulator's threads.
class BackendTestFixture : public ::testing::Test {
  protected:
    static constexpr const char* apiToken = BackendEmulator::defaultAPIToken;

    void SetUp() override {
        now = *BackendDate::parse("2024-06-01T12:00:00.000Z");
        startEmulator(options());
    }

    BackendEmulator::Options options() {
        BackendEmulator::Options options;
        options.seed = false;
        options.clock = [this] {
            return now.load();
        };
        return options;
    }

    void startEmulator(BackendEmulator::Options options) {
        client.reset();
        emulator = std::make_unique<BackendEmulator>(std::move(options));
        std::string error;
        ASSERT_TRUE(emulator->start(&error)) << error;
        client = std::make_unique<TestHttpClient>(emulator->port());
    }

    ClientResponse call(const std::string& method, const std::string& target,
                        const std::optional<nlohmann::json>& body = std::nullopt,
                        const std::optional<std::string>& token = std::string(apiToken)) {
        Headers headers;
        if (token) {
            headers.add("Authorization", "Bearer " + *token);
        }
        std::string bytes;
        if (body) {
            headers.add("Content-Type", "application/json");
            bytes = body->dump();
        }
        return client->request(method, target, headers, bytes);
    }

    static nlohmann::json parse(const ClientResponse& response) {
        return nlohmann::json::parse(response.body, nullptr, false);
    }

    // Escapes a query value as the SDK's requester does: everything but ASCII letters,
    // digits and "-._~/?" becomes %XX.
    static std::string escape(const std::string& text) {
        static constexpr char digits[] = "0123456789ABCDEF";
        std::string escaped;
        for (unsigned char c : text) {
            if (std::isalnum(c) || std::string_view("-._~/?").find(c) != std::string_view::npos) {
                escaped += static_cast<char>(c);
            } else {
                escaped += '%';
                escaped += digits[c >> 4];
                escaped += digits[c & 0xf];
            }
        }
        return escaped;
    }

    // A list query value: Base64 of the JSON text, escaped.
    static std::string encoded(const nlohmann::json& value) {
        return escape(Base64::encode(value.dump()));
    }

    VideoRecord putVideo(const std::string& id, std::vector<std::string> tags,
                         std::map<std::string, std::string> metadata,
                         const std::string& identity = "alice", const std::string& title = "") {
        VideoRecord video;
        video.id = id;
        video.title = title.empty() ? "Video " + id : title;
        video.identity = identity;
        video.setTags(std::move(tags));
        video.metadata = std::move(metadata);
        video.createdAt = now.load() - (1000 - static_cast<std::int64_t>(emulator->store().size()));
        video.updatedAt = video.createdAt;
        video.shotOn = video.createdAt;
        video.state = "processed";
        for (const char* resolution : VideoRecord::resolutionNames) {
            video.addResolution(resolution);
        }
        emulator->store().put(video);
        return video;
    }

    static std::vector<std::string> ids(const nlohmann::json& list) {
        std::vector<std::string> found;
        for (const auto& video : list) {
            found.push_back(video.value("id", ""));
        }
        return found;
    }

    std::atomic<std::int64_t> now{0};
    std::unique_ptr<BackendEmulator> emulator;
    std::unique_ptr<TestHttpClient> client;
};

}  // namespace pindle::emulator::test

#include "PindleCore/websocket/WSFrameReader.hpp"

#include <algorithm>
#include <new>

#include "PindleCore/websocket/private/WSFrameFormat.hpp"
#include "PindleCore/websocket/private/WSUtilities.hpp"

namespace pindle {

namespace {

using namespace ws_frame;

constexpr int protocolError = 1002;
constexpr int invalidText = 1007;
constexpr int messageTooBig = 1009;
constexpr std::uint64_t lengthTopBit = 1ull << 63;

bool isControl(std::uint8_t opcode) {
    return opcode >= connectionClose;
}

bool isKnown(std::uint8_t opcode) {
    return opcode == continuation || opcode == text || opcode == binary ||
           opcode == connectionClose || opcode == ping || opcode == pong;
}

// Codes a peer may put in a close frame: the defined ones, and those for applications.
bool acceptedCloseCode(int code) {
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) ||
           (code >= 3000 && code <= 4999);
}

}  // namespace

WSFrameReader::WSFrameReader(Callbacks callbacks, std::size_t maximumMessageSize)
    : callbacks_(std::move(callbacks)), maximumMessageSize_(maximumMessageSize) {}

void WSFrameReader::consume(const std::uint8_t* bytes, std::size_t length) {
    try {
        consumeBytes(bytes, length);
    } catch (const std::bad_alloc&) {
        cannotHold();
    }
}

void WSFrameReader::consumeBytes(const std::uint8_t* bytes, std::size_t length) {
    std::size_t at = 0;
    while (!stopped_ && (at < length || (stage_ == Stage::payload && frameRead_ == frameLength_))) {
        switch (stage_) {
            case Stage::header:
            case Stage::extendedLength: {
                std::size_t take = std::min(headerNeed_ - headerHave_, length - at);
                std::copy_n(bytes + at, take, header_ + headerHave_);
                headerHave_ += take;
                at += take;
                if (headerHave_ == headerNeed_) {
                    if (stage_ == Stage::header)
                        headerComplete();
                    else
                        lengthComplete();
                }
                break;
            }
            case Stage::payload: {
                std::uint64_t left = frameLength_ - frameRead_;
                std::size_t take = static_cast<std::size_t>(
                    std::min<std::uint64_t>(left, static_cast<std::uint64_t>(length - at)));
                auto& target = isControl(frameOpcode_) ? control_ : message_;
                target.insert(target.end(), bytes + at, bytes + at + take);
                at += take;
                frameRead_ += take;
                if (!isControl(frameOpcode_) && messageOpcode_ == text && !checkText(false))
                    break;
                if (frameRead_ == frameLength_)
                    payloadComplete();
                break;
            }
        }
    }
}

void WSFrameReader::headerComplete() {
    std::uint8_t first = header_[0];
    std::uint8_t second = header_[1];
    if (first & 0x70)
        return fail(protocolError, "Server used RSV bits");
    frameOpcode_ = first & 0x0F;
    frameFinal_ = (first & 0x80) != 0;
    if (!isKnown(frameOpcode_))
        return fail(protocolError, "Unknown opcode " + std::to_string(frameOpcode_));
    if (second & 0x80)
        return fail(protocolError, "Client must receive unmasked data");
    bool control = isControl(frameOpcode_);
    if (control && !frameFinal_)
        return fail(protocolError, "Fragmented control frames not allowed");
    if (!control && frameOpcode_ != continuation && messageOpcode_ != 0)
        return fail(protocolError,
                    "all data frames after the initial data frame must have opcode 0");
    if (frameOpcode_ == continuation && messageOpcode_ == 0)
        return fail(protocolError, "cannot continue a message");

    std::uint8_t lengthCode = second & 0x7F;
    if (lengthCode >= 126) {
        stage_ = Stage::extendedLength;
        headerHave_ = 0;
        headerNeed_ = lengthCode == 126 ? 2 : 8;
        return;
    }
    frameLength_ = lengthCode;
    lengthComplete();
}

void WSFrameReader::lengthComplete() {
    if (stage_ == Stage::extendedLength) {
        frameLength_ = 0;
        for (std::size_t i = 0; i < headerNeed_; ++i)
            frameLength_ = (frameLength_ << 8) | header_[i];
        if (frameLength_ & lengthTopBit)
            return fail(protocolError, "Frame length has its most significant bit set");
    }
    if (isControl(frameOpcode_)) {
        if (frameLength_ > maximumControlPayload)
            return fail(protocolError, "Control frames cannot have payloads larger than 126 bytes");
        control_.clear();
    } else {
        if (frameOpcode_ != continuation) {
            messageOpcode_ = frameOpcode_;
            message_.clear();
            textChecked_ = 0;
        }
        if (frameLength_ > maximumMessageSize_ - message_.size())
            return fail(messageTooBig, "Message too big");
        if (frameLength_ > message_.max_size() - message_.size())
            return cannotHold();
    }
    stage_ = Stage::payload;
    frameRead_ = 0;
}

void WSFrameReader::payloadComplete() {
    stage_ = Stage::header;
    headerHave_ = 0;
    headerNeed_ = 2;
    frameComplete();
}

void WSFrameReader::frameComplete() {
    switch (frameOpcode_) {
        case connectionClose:
            return handleClose(control_);
        case ping:
            if (callbacks_.ping)
                callbacks_.ping(control_);
            return;
        case pong:
            if (callbacks_.pong)
                callbacks_.pong(control_);
            return;
        default:
            break;
    }
    if (!frameFinal_)
        return;
    if (messageOpcode_ == text && !checkText(true))
        return;
    std::uint8_t opcode = messageOpcode_;
    platform::Data message;
    message.swap(message_);
    messageOpcode_ = 0;
    textChecked_ = 0;
    if (opcode == text) {
        if (callbacks_.text)
            callbacks_.text(std::string(message.begin(), message.end()));
    } else if (callbacks_.binary) {
        callbacks_.binary(message);
    }
}

bool WSFrameReader::checkText(bool final) {
    auto valid = WSValidUTF8Prefix(message_.data() + textChecked_, message_.size() - textChecked_);
    if (valid)
        textChecked_ += *valid;
    if (!valid || (final && textChecked_ != message_.size())) {
        fail(invalidText, "Text frames must be valid UTF-8");
        return false;
    }
    return true;
}

void WSFrameReader::handleClose(const platform::Data& payload) {
    if (payload.size() == 1)
        return fail(protocolError, "Payload for close must be larger than 2 bytes");
    int code = 1005;
    std::optional<std::string> reason;
    if (!payload.empty()) {
        code = (payload[0] << 8) | payload[1];
        if (!acceptedCloseCode(code))
            return fail(protocolError, "Cannot have close code of " + std::to_string(code));
        std::size_t reasonLength = payload.size() - closeCodeBytes;
        if (reasonLength > 0) {
            auto valid = WSValidUTF8Prefix(payload.data() + closeCodeBytes, reasonLength);
            if (!valid || *valid != reasonLength)
                return fail(protocolError, "Close reason MUST be valid UTF-8");
            reason = std::string(payload.begin() + closeCodeBytes, payload.end());
        }
    }
    stopped_ = true;
    if (callbacks_.close)
        callbacks_.close(code, reason);
}

void WSFrameReader::cannotHold() {
    stopped_ = true;
    if (callbacks_.cannotHold)
        callbacks_.cannotHold();
}

void WSFrameReader::fail(int closeCode, const std::string& reason) {
    stopped_ = true;
    if (callbacks_.fail)
        callbacks_.fail(closeCode, reason);
}

}  // namespace pindle

#include "platform/media/AudioSession.hpp"

#include <algorithm>
#include <memory>

#include "platform/audio/private/SoundServer.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle::platform {

namespace {

using pulse::PulseContext;

// Asks the server for its default sink's volume and hands it to the session on the main
// queue. Runs on the connection's loop thread or under its lock. The session (which lives for
// the process) is the only state the answers need: a connection that goes before answering
// drops its requests without calling back, and nothing is left to free.
void readDefaultSink(const std::shared_ptr<PulseContext>& context, AudioSession& session) {
    pa_operation* operation = pa_context_get_server_info(
        context->context(),
        [](pa_context* raw, const pa_server_info* info, void* userdata) {
            if (!info || !info->default_sink_name)
                return;
            pa_operation* sink = pa_context_get_sink_info_by_name(
                raw, info->default_sink_name,
                [](pa_context*, const pa_sink_info* sinkInfo, int last, void* userdata) {
                    if (last || !sinkInfo || !pa_cvolume_valid(&sinkInfo->volume))
                        return;
                    // The share of the normal volume, as the desktop's volume control shows it.
                    const float volume =
                        sinkInfo->mute ? 0.0f
                                       : static_cast<float>(pa_cvolume_avg(&sinkInfo->volume)) /
                                             static_cast<float>(PA_VOLUME_NORM);
                    auto* session = static_cast<AudioSession*>(userdata);
                    DispatchQueue::main()->async(
                        [session, volume] { session->simulateOutputVolumeChange(volume); });
                },
                userdata);
            if (sink)
                pa_operation_unref(sink);
        },
        &session);
    if (operation)
        pa_operation_unref(operation);
}

}  // namespace

AudioSession& AudioSession::sharedInstance() {
    // Leaked on purpose: observers on other threads may still use it at exit.
    static auto* session = [] {
        auto* shared = new std::shared_ptr<AudioSession>(std::make_shared<AudioSession>(Private{}));
        (*shared)->followServer();
        return shared;
    }();
    return **session;
}

void AudioSession::simulateOutputVolumeChange(float volume) {
    outputVolume_.set(std::clamp(volume, 0.0f, 1.0f));
}

void AudioSession::followServer() {
    SoundServer::addObserver([this](const std::shared_ptr<PulseContext>& context) {
        std::weak_ptr<PulseContext> weak = context;
        context->addEventHandler(static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                                     PA_SUBSCRIPTION_MASK_SERVER),
                                 [this, weak](pa_subscription_event_type_t, std::uint32_t) {
                                     // by hand: the sink is read through the context's owner
                                     if (auto context = weak.lock())
                                         readDefaultSink(context, *this);
                                 });
        PulseContext::Lock lock(*context);
        readDefaultSink(context, *this);
    });
}

}  // namespace pindle::platform

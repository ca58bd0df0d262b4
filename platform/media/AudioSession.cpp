#include "platform/media/AudioSession.hpp"

#include <algorithm>
#include <memory>

#include "platform/audio/SoundServer.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle::platform {

namespace {

using pulse::PulseContext;

// Asks the server for its default sink's volume and hands it to the session on the main
// queue. Runs on the connection's loop thread or under its lock.
void readDefaultSink(const std::shared_ptr<PulseContext>& context, AudioSession& session) {
    struct Query {
        std::weak_ptr<PulseContext> context;
        AudioSession* session;
    };
    auto* query = new Query{context, &session};
    pa_operation* operation = pa_context_get_server_info(
        context->context(),
        [](pa_context* raw, const pa_server_info* info, void* userdata) {
            auto* query = static_cast<Query*>(userdata);
            if (!info || !info->default_sink_name) {
                delete query;
                return;
            }
            pa_operation* sink = pa_context_get_sink_info_by_name(
                raw, info->default_sink_name,
                [](pa_context*, const pa_sink_info* sinkInfo, int last, void* userdata) {
                    auto* query = static_cast<Query*>(userdata);
                    if (last) {
                        delete query;
                        return;
                    }
                    if (!sinkInfo || !pa_cvolume_valid(&sinkInfo->volume))
                        return;
                    // The share of the normal volume, as the desktop's volume control shows it.
                    const float volume =
                        sinkInfo->mute ? 0.0f
                                       : static_cast<float>(pa_cvolume_avg(&sinkInfo->volume)) /
                                             static_cast<float>(PA_VOLUME_NORM);
                    AudioSession* session = query->session;
                    DispatchQueue::main()->async(
                        [session, volume] { session->simulateOutputVolumeChange(volume); });
                },
                query);
            if (sink)
                pa_operation_unref(sink);
            else
                delete query;
        },
        query);
    if (operation)
        pa_operation_unref(operation);
    else
        delete query;
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

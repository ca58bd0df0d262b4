// WSAutoConfigurationDownload: fetches one proxy auto-configuration script over HTTP(S) for
// the proxy connector, within bounds of its own: a script over maximumSize bytes, a download
// that has not ended after `timeout` seconds (on the platform clock), or an answer other than
// 2xx yields nothing, and the transfer is cancelled at once rather than left to run.
//
// The completion is called at most once: with the script, or with nothing on any failure. After
// cancel() it is not called at all.
//
// Thread-safety: start() once, then cancel() from any thread. The completion runs on a queue of
// the download's own, never with its lock held.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/net/URLSessionDelegate.hpp"

namespace pindle {

class WSAutoConfigurationDownload
    : public std::enable_shared_from_this<WSAutoConfigurationDownload> {
  public:
    using Completion = std::function<void(std::optional<std::string> script)>;

    static constexpr std::size_t maximumSize = 1u << 20;
    static constexpr double defaultTimeout = 5.0;

    static std::shared_ptr<WSAutoConfigurationDownload> create(platform::URL url,
                                                               double timeout = defaultTimeout);
    ~WSAutoConfigurationDownload();
    WSAutoConfigurationDownload(const WSAutoConfigurationDownload&) = delete;
    WSAutoConfigurationDownload& operator=(const WSAutoConfigurationDownload&) = delete;

    void start(Completion completion);
    // Stops the transfer; the completion is not called.
    void cancel();

  private:
    class SessionDelegate;
    struct Private {
        explicit Private() = default;
    };

  public:
    WSAutoConfigurationDownload(Private, platform::URL url, double timeout);

  private:
    void received(const platform::Data& bytes);
    // Ends the download: the completion hears `script` unless cancelled; the task is cancelled.
    void end(std::optional<std::string> script);

    const platform::URL url_;
    const double timeout_;
    const std::shared_ptr<platform::DispatchQueue> queue_;

    std::mutex mutex_;
    Completion completion_;                           // guarded by mutex_
    std::shared_ptr<platform::URLSessionTask> task_;  // guarded by mutex_
    std::shared_ptr<platform::URLSession> session_;   // guarded by mutex_
    std::string script_;                              // guarded by mutex_
    bool ended_ = false;                              // guarded by mutex_
};

}  // namespace pindle

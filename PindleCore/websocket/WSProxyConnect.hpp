// WSProxyConnect: opens the network stream of one WebSocket connection, directly or
// through the proxy the system settings name for its address.
//
// With an HTTP proxy it connects to the proxy (port 80 when the setting names none) and
// asks it for a tunnel with "CONNECT host:port"; interim 1xx answers are skipped, a final
// 2xx answer hands the tunnel over, any other (also one the proxy sends just before it
// closes) fails with code 2132 and the status under WSHTTPResponseErrorKey. An answer
// head over 64 KiB, or a connection that ends before a whole answer, fails with status 500. TLS,
// when the address needs it, is started by the socket over the handed stream, so it checks the real
// host. With a SOCKS proxy it speaks SOCKS 5, or SOCKS 4 and 4a (see WSSocksHandshake); a
// refusal fails with code 2132. Bytes the proxy's socket has not begun to take after
// writeTimeout seconds fail with status 408 "Proxy timeout"; a proxy that has not opened the
// tunnel `answerTimeout` seconds after the connection to it was begun fails with -1001
// "Timed out connecting to server.". When the settings name a proxy
// auto-configuration file (by URL: a local file, or downloaded within the bounds of
// WSAutoConfigurationDownload) or script, the script decides, evaluated for "https://host"
// (TLS) or "http://host" and its first answer used; a PAC that cannot be read, downloaded or
// evaluated in time leads to a direct connection.
//
// Thread-safety: openNetworkStream() once, from any thread; cancel() from any thread. The
// completion runs at most once (exactly once unless cancelled), on the WebSocket network
// thread, a queue of the connector or the calling thread for a failure found before
// connecting; never with a lock held.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "PindleCore/websocket/WSAutoConfigurationDownload.hpp"
#include "PindleCore/websocket/WSSocksHandshake.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/net/stream/ProxySettings.hpp"
#include "platform/net/stream/RunLoop.hpp"
#include "platform/net/stream/SocketStream.hpp"

namespace pindle {

class WSProxyConnect : public std::enable_shared_from_this<WSProxyConnect> {
  public:
    // `leftover`: bytes that arrived through the tunnel behind the proxy's answer; they are
    // the server's and come before anything read from the stream.
    using Completion = std::function<void(const std::optional<platform::Error>& error,
                                          std::shared_ptr<platform::SocketStream> stream,
                                          platform::Data leftover)>;

    // How long bytes for the proxy may wait for its socket to take any of them.
    static constexpr double writeTimeout = 5.0;
    // How long a PAC download may take before the connection goes direct.
    static constexpr double autoConfigurationDownloadTimeout =
        WSAutoConfigurationDownload::defaultTimeout;
    static constexpr std::size_t maximumAnswerSize = 64u << 10;

    // Uses the system's proxy settings unless `settings` are given (for tests and hosts).
    // `answerTimeout`: how long a proxy may take to open the tunnel, in seconds on the
    // platform clock; 0 for no limit.
    static std::shared_ptr<WSProxyConnect> create(
        platform::URL url, std::optional<platform::ProxySettings> settings = std::nullopt,
        std::shared_ptr<platform::RunLoop> runLoop = nullptr, double answerTimeout = 0);
    ~WSProxyConnect();
    WSProxyConnect(const WSProxyConnect&) = delete;
    WSProxyConnect& operator=(const WSProxyConnect&) = delete;

    // On success the stream is open (through the tunnel, when a proxy is used), scheduled on
    // the network loop, and has no delegate.
    void openNetworkStream(Completion completion);
    // Stops whatever is under way (a PAC download, a connection) without calling the
    // completion.
    void cancel();

    // What an HTTP proxy's bytes so far say about the tunnel.
    struct ConnectAnswer {
        enum class Kind { pending, open, refused, malformed };
        Kind kind = Kind::pending;
        int status = 0;           // the final status, when there is one
        platform::Data leftover;  // for `open`: the server's bytes behind the answer
    };
    // Reads the proxy's answer from the front of `answer`, skipping interim 1xx answers
    // (which are removed). `atEnd`: the proxy has closed, so a partial answer is malformed.
    // A head over maximumAnswerSize is malformed.
    static ConnectAnswer readConnectAnswer(std::string& answer, bool atEnd);

  private:
    struct Private {
        explicit Private() = default;
    };

  public:
    WSProxyConnect(Private, platform::URL url, platform::ProxySettings settings,
                   std::shared_ptr<platform::RunLoop> runLoop, double answerTimeout);

  private:
    // Takes the proxy's settings (nothing for a direct connection); false when it failed.
    bool useProxy(const platform::ProxySettings::Proxy& proxy);
    void fetchAutoConfiguration(const platform::ProxySettings::Proxy& proxy);
    // Evaluates the script off the network thread, then connects as it says.
    void runAutoConfiguration(std::optional<std::string> script, double timeout);
    void openConnection();
    void handleEvent(platform::SocketStream::Event event);
    bool socksProxy();

    void sendConnectRequest();
    // Queues bytes for the proxy; they go out as the stream takes them (see writeTimeout).
    void writeBytes(std::string bytes);
    void flushOutput();
    // Fails the connection when nothing more of the output has gone out writeTimeout after
    // `generation`.
    void watchOutput(std::uint64_t generation);
    // Fails the connection when `stream` is still waiting for the proxy answerTimeout from now.
    void watchAnswer(const std::shared_ptr<platform::SocketStream>& stream);
    void readProxyAnswer();
    // `atEnd`: the proxy has closed, so no more of its answer will come.
    void handleHTTPProxyAnswer(bool atEnd);
    void handleSocksAnswer();
    void finish(platform::Data leftover = {});
    void fail(std::optional<platform::Error> error);
    void complete(const std::optional<platform::Error>& error,
                  std::shared_ptr<platform::SocketStream> stream, platform::Data leftover);

    const platform::URL url_;
    const platform::ProxySettings settings_;
    const std::shared_ptr<platform::RunLoop> runLoop_;
    const bool connectionRequiresTLS_;
    const double answerTimeout_;
    const std::shared_ptr<platform::DispatchQueue> timerQueue_;

    std::mutex mutex_;
    Completion completion_;                                     // guarded by mutex_
    std::shared_ptr<platform::SocketStream> stream_;            // guarded by mutex_
    std::optional<std::string> httpProxyHost_;                  // guarded by mutex_
    int httpProxyPort_ = 80;                                    // guarded by mutex_
    std::string proxyAnswer_;                                   // guarded by mutex_
    std::optional<platform::ProxySettings::Proxy> socksProxy_;  // guarded by mutex_
    std::optional<WSSocksHandshake> socks_;                     // guarded by mutex_
    std::string pendingOutput_;                                 // guarded by mutex_
    std::uint64_t writeGeneration_ = 0;  // bytes taken so far, counted in writes; guarded by mutex_
    std::shared_ptr<WSAutoConfigurationDownload> download_;  // guarded by mutex_
    bool cancelled_ = false;                                 // guarded by mutex_
};

}  // namespace pindle

// SocketStream: one TCP connection as a readable and writable byte stream, optionally over
// TLS, driven by a RunLoop.
//
// It plays the part of a platform stream pair: open() resolves and starts connecting, then
// the delegate hears, on the run loop's thread, openCompleted (TCP connected), and
// hasSpaceAvailable once the stream can be written (after the TLS handshake when TLS is
// on). hasBytesAvailable is announced once and then again only after a read() (as the
// platform does), so a reader that hands the event to another thread is not flooded; it
// should read until read() answers wouldBlock. A read that meets the end returns 0 and
// endEncountered follows. Failures of connecting or of the TLS handshake are
// errorOccurred, with error() set.
//
// TLS can be switched on before open() or on an open stream (after an HTTP proxy's CONNECT
// tunnel is up); the handshake then runs on the loop and hasSpaceAvailable follows it.
// With chain validation on, the system's trust store and the peer name decide; with it
// off, any chain is accepted and the caller judges peerCertificates() itself.
//
// Thread-safety: every operation may be called from any thread; one lock serialises the
// socket and the TLS session. The delegate is called on the run loop's thread, never with
// that lock held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/net/stream/RunLoop.hpp"

namespace pindle::platform {

class SocketStream : public std::enable_shared_from_this<SocketStream> {
  public:
    enum class Event {
        openCompleted,
        hasBytesAvailable,
        hasSpaceAvailable,
        errorOccurred,
        endEncountered
    };
    enum class Status { notOpen, opening, open, atEnd, closed, error };

    struct TLSSettings {
        // The name the certificate must carry and the one sent for virtual hosting.
        std::string peerName;
        bool validatesCertificateChain = true;
    };

    // What the traffic is for, so the system can order it: applied as the socket's priority
    // and its IP traffic class (DSCP) where the kernel allows.
    enum class NetworkServiceType { standard, voip, video, background, voice, callSignaling };

    using Delegate = std::function<void(Event)>;

    // read() and write() answer this when nothing can be done now.
    static constexpr long wouldBlock = -2;

    static std::shared_ptr<SocketStream> create(std::string host, int port);
    // Initialises the TLS library now (see CryptoLibrary).
    static void prepareTLSLibrary();
    ~SocketStream();
    SocketStream(const SocketStream&) = delete;
    SocketStream& operator=(const SocketStream&) = delete;

    const std::string& host() const { return host_; }
    int port() const { return port_; }

    void setDelegate(Delegate delegate);
    // The run loop that carries the stream's events. Before open() it only records the
    // loop; on an open stream it moves the stream there (its events then arrive on that
    // loop's thread).
    void schedule(std::shared_ptr<RunLoop> runLoop);
    std::shared_ptr<RunLoop> runLoop() const;

    // Recorded, and applied to the socket now or once it exists.
    void setNetworkServiceType(NetworkServiceType type);
    NetworkServiceType networkServiceType() const;

    // Starts connecting. Name resolution runs on the calling thread.
    // REQUIRES: scheduled; not opened before.
    void open();
    // Switches TLS on (see above). Only the first call counts.
    void startTLS(TLSSettings settings);

    // Bytes read (> 0), 0 at the end, wouldBlock, or -1 on an error (error() tells which).
    long read(std::uint8_t* buffer, std::size_t capacity);
    // Bytes written (>= 0; 0 when nothing can be written now), or -1 on an error.
    long write(const std::uint8_t* bytes, std::size_t length);
    bool hasSpaceAvailable() const;

    Status status() const;
    std::optional<Error> error() const;
    // The certificates the TLS peer presented, leaf first, DER-encoded; empty without TLS
    // or before the handshake has finished.
    std::vector<Data> peerCertificates() const;

    // Closes the connection; no event follows. Safe to call more than once.
    void close();

  private:
    enum class Phase { idle, connecting, handshaking, open, ended, failed, closed };
    struct TLSState;

    struct Private {
        explicit Private() = default;
    };

  public:
    SocketStream(Private, std::string host, int port);

  private:
    void onReady(short revents);
    // Each returns the events to announce; REQUIRES: mutex_ held.
    std::vector<Event> connectNextAddress();
    std::vector<Event> finishConnect();
    std::vector<Event> continueHandshake();
    void fail(Error error);
    void updateInterest();
    void applyNetworkServiceType();
    void announce(const std::vector<Event>& events);
    void announceLater(Event event);

    const std::string host_;
    const int port_;

    mutable std::mutex mutex_;
    Delegate delegate_;                                 // guarded by mutex_
    std::shared_ptr<RunLoop> runLoop_;                  // guarded by mutex_
    RunLoop::SourceID source_ = 0;                      // guarded by mutex_
    int fd_ = -1;                                       // guarded by mutex_
    Phase phase_ = Phase::idle;                         // guarded by mutex_
    std::vector<std::vector<std::uint8_t>> addresses_;  // guarded by mutex_ (sockaddr bytes)
    std::vector<int> families_;                         // guarded by mutex_
    std::size_t nextAddress_ = 0;                       // guarded by mutex_
    std::optional<TLSSettings> tlsSettings_;            // guarded by mutex_
    std::unique_ptr<TLSState> tls_;                     // guarded by mutex_
    short handshakeInterest_ = 0;                       // guarded by mutex_
    bool readArmed_ = false;                            // guarded by mutex_
    bool spaceAvailable_ = false;                       // guarded by mutex_
    std::optional<Error> error_;                        // guarded by mutex_
    NetworkServiceType serviceType_ = NetworkServiceType::standard;  // guarded by mutex_
};

}  // namespace pindle::platform

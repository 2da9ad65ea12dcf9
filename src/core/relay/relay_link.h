#pragma once
#include "core/relay/relay_connect.h"
#include "core/relay/relay_loop.h"
#include "core/relay/relay_pump.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

class TRelayListener;

// One accepted connection and its outgoing connection, run by one loop of the listener from the accept
// to the disconnect. It is the argument of the listener's events; handlers do not look inside.
class TRelayLink {
public:
    TRelayLink(const TRelayLink&) = delete;
    TRelayLink& operator=(const TRelayLink&) = delete;

private:
    friend class TRelayLoop;
    using Clock = TRelayLoop::Clock;

    TRelayLink(TRelayLoop& loop, int inFd);
    ~TRelayLink();

    // The connect event, then the outgoing connection.
    void Begin();
    void OnEvent(TRelayLoop::Role role, std::uint32_t events);
    void OnDeadline(Clock::time_point now);
    // Its turn was used up: carries on where it stopped.
    void Resume() { Pump(); }
    // A stop: the sockets are shut down and the link ends at once.
    void Abort();
    bool Done() const { return stage_ == Stage::Done; }

    void Resolve();
    void ConnectNext();
    void OnOutgoingEvent(std::uint32_t events);
    void OnLookupDone();
    bool ClientHasGone(std::uint32_t events);
    void Pump();
    // The disconnect event, then the sockets are closed and the link leaves its loop.
    void Finish(bool ended);
    void CloseIncoming();

    enum class Stage { Connecting, Relaying, Done };

    TRelayLoop& loop_;
    TRelayListener& listener_;
    int inFd_;
    int outFd_ = -1;
    Stage stage_ = Stage::Connecting;
    bool closing_ = false; // set by a stop, with both sockets shut down

    // The outgoing connection: every address of the destination in turn.
    std::shared_ptr<TRelayResolvers::Lookup> lookup_;
    std::vector<RelayAddress> addresses_;
    std::size_t nextAddress_ = 0;
    int port_ = 0;
    std::chrono::milliseconds connectTimeout_{};
    bool watchClientEnd_ = true; // a client that ends its stream before sending anything has gone

    // The relay. Readiness is remembered between wake-ups: a socket reports only changes.
    TRelayChannel up_;   // client to destination
    TRelayChannel down_; // destination to client
    bool inReadable_ = false;
    bool inEnding_ = false; // the client's end of stream has been reported
    bool outEnding_ = false;
    bool inWritable_ = true;
    bool outReadable_ = false;
    bool outWritable_ = true;
    bool outShut_ = false;
    bool inShut_ = false;
    bool ended_ = false; // both streams ended: nothing left to send or to read
    Clock::time_point lastActivity_{};

    // The loop's bookkeeping.
    bool hasDeadline_ = false;
    Clock::time_point deadline_{};
    bool queuedAgain_ = false;
    std::uint32_t slot_ = 0; // in the loop's table of links
};

} // namespace qv

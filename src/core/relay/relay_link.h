#pragma once
#include "core/relay/relay_connect.h"
#include "core/relay/relay_figures.h"
#include "core/relay/relay_loop.h"
#include "core/relay/relay_own_sockets.h"
#include "core/relay/relay_pump.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

class TRelayListener;

// One accepted connection and its outgoing connection, run by one loop of the listener from the accept
// to the disconnect. Its figures are the argument of the listener's events.
class TRelayLink {
public:
    TRelayLink(const TRelayLink&) = delete;
    TRelayLink& operator=(const TRelayLink&) = delete;

    // What the link shows now: in its event handlers, or under its loop's lock of figures.
    RelayLinkFigures Figures() const;

private:
    friend class TRelayLoop;
    using Clock = TRelayLoop::Clock;

    TRelayLink(TRelayLoop& loop, int inFd, std::uint64_t id, const RelayAddress& client);
    ~TRelayLink();

    // The connect event, then the outgoing connection.
    void Begin();
    void OnEvent(TRelayLoop::Role role, std::uint32_t events);
    void OnDeadline(Clock::time_point now);
    // Its turn was used up: carries on where it stopped.
    void Resume() { Pump(); }
    // A stop, or a close asked for this link alone: the sockets are shut down and the link ends at once.
    void Abort(RelayEndReason reason = RelayEndReason::Stopped);
    std::uint64_t Id() const { return id_; }
    bool Done() const { return stage_ == Stage::Done; }

    // The next destination: its addresses, looked up when it is a name.
    void Resolve();
    // No address of the present destination could be connected: the next one, or the end.
    void DestinationFailed(RelayEndReason reason);
    // The PROXY protocol header, when the mapping sends one; false when it could not be written.
    bool SendProxyHeader();
    void ConnectNext();
    void OnOutgoingEvent(std::uint32_t events);
    void OnLookupDone();
    bool ClientHasGone(std::uint32_t events);
    void Pump();
    // The disconnect event, then the sockets are closed and the link leaves its loop.
    void Finish(bool ended, RelayEndReason reason);
    // No address of the destination could be connected: why, from the last attempt.
    RelayEndReason ConnectFailure() const;
    // A socket failed while relaying: which side, from the direction that failed.
    RelayEndReason ResetBy(const TRelayChannel& failed, bool upward) const;
    void SetState(RelayLinkState state) { state_.store(state, std::memory_order_relaxed); }
    // The mapping's bandwidth limits have changed: each direction takes its new one (null: none).
    void Limit(TRelayBandwidth* up, TRelayBandwidth* down);
    // A direction waiting for its grant is woken by the link's deadline when the grant is due.
    void WaitForBandwidth();
    void CloseIncoming();

    enum class Stage { Connecting, Relaying, Done };

    TRelayLoop& loop_;
    TRelayListener& listener_;
    int inFd_;
    int outFd_ = -1;
    Stage stage_ = Stage::Connecting;
    bool closing_ = false; // set by a stop, with both sockets shut down

    // The destinations in the order to try them, and the next one.
    std::vector<RelayDestination> destinations_;
    std::size_t nextDestination_ = 0;
    // The outgoing connection: every address of the destination in turn.
    std::shared_ptr<TRelayResolvers::Lookup> lookup_;
    std::vector<RelayAddress> addresses_;
    std::size_t nextAddress_ = 0;
    int port_ = 0;
    TRelayOwnSocket own_; // the outgoing socket, while it is the relay's own towards this machine
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

    // Figures: what the connections window shows.
    const std::uint64_t id_;
    const RelayAddress client_;
    RelayAddress destination_; // written under the loop's lock of figures
    RelayAddress tried_;       // likewise
    std::atomic<RelayLinkState> state_{RelayLinkState::Resolving};
    // Set as the link ends, which a snapshot may be copying at that moment.
    std::atomic<RelayEndReason> reason_{RelayEndReason::None};
    RelayEndReason firstEnd_ = RelayEndReason::None; // the side whose stream ended first
    int lastConnectError_ = 0;
    bool lookedUp_ = false;
    std::atomic<std::uint64_t> bytesUp_{0};
    std::atomic<std::uint64_t> bytesDown_{0};
    const std::chrono::system_clock::time_point started_ = std::chrono::system_clock::now();
    const Clock::time_point startedSteady_ = Clock::now();

    // The loop's bookkeeping.
    bool hasDeadline_ = false;
    Clock::time_point deadline_{};
    bool queuedAgain_ = false;
    std::uint32_t slot_ = 0; // in the loop's table of links
};

} // namespace qv

#pragma once
#include "core/relay/relay_bandwidth.h"
#include "core/relay/relay_connect.h"
#include "core/relay/relay_figures.h"
#include "core/relay/relay_link.h"
#include "core/relay/relay_loop.h"
#include "core/relay/relay_rules.h"
#include "core/relay/relay_socket.h"
#include "core/relay/relay_sources.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace qv {

// Listens on one local TCP port and relays every accepted connection to MappedHost:MappedPort, raising
// OnConnect and then OnDisconnect exactly once per connection. A few relay threads (kLoops at most) share
// the connections; each connection stays on the thread that accepted it, and its events run there.
//
// With UDP (SetProtocol) it also, or only, listens on that UDP port: every client address gets a session
// towards the destination, which raises the same two events and counts against the same limit as a
// connection. Each relay thread has a UDP socket of its own on the port (they share it through
// SO_REUSEPORT); the system hands each client address to one of them, always the same while the listener
// runs, and that thread runs the client's session: no lock on the datagram path, every thread working.
// At most kUdpSessionCeiling sessions (SetUdpSessionCeiling), kUdpSessionsPerSource of them from one
// address; idle ones end after kUdpIdleTimeout.
class TRelayListener {
public:
    TRelayListener();
    ~TRelayListener(); // stops; no thread is left running and no descriptor open
    TRelayListener(const TRelayListener&) = delete;
    TRelayListener& operator=(const TRelayListener&) = delete;

    // Counts only at the first successful start: the listener keeps that port for its whole life.
    void SetDefaultPort(int port) { defaultPort_.store(port); }
    int DefaultPort() const { return defaultPort_.load(); }
    // While inactive: the port of the first start is given up, so the next start listens on DefaultPort
    // as a new listener's first start would.
    void ForgetPort();
    // Read afresh for every accepted connection; may change while active.
    void SetMappedHost(std::string host);
    std::string MappedHost() const;
    void SetMappedPort(int port) { mappedPort_.store(port); }
    int MappedPort() const { return mappedPort_.load(); }
    // Where the next start listens (all IPv4 addresses until set).
    void SetListenOn(RelayListenOn on);
    // What the next start listens for: TCP until set.
    void SetProtocol(RelayProtocol protocol) { protocol_.store(protocol); }
    RelayProtocol Protocol() const { return protocol_.load(); }
    // While active: whether a listen choice or protocol set since the start differs from what it listens
    // on and for now, and so waits for the next start.
    bool ListenChangeWaits() const;
    // A UDP session that carries no datagram either way for this long ends ("idle timeout"). Read afresh
    // as sessions go idle; may change while active.
    void SetUdpIdleTimeout(std::chrono::milliseconds t) { udpIdleTimeout_.store(t.count()); }
    std::chrono::milliseconds UdpIdleTimeout() const {
        return std::chrono::milliseconds(udpIdleTimeout_.load(std::memory_order_relaxed));
    }
    // UDP sessions at most, whatever the access rules' limit: a flood from many addresses or ports
    // cannot make more. At the ceiling a new client takes the place of the session of its relay thread
    // that has been quiet and unanswered for longest, a second at least; with none, its datagrams are
    // dropped (and counted below) until a session has ended. Answered sessions are never pushed out.
    void SetUdpSessionCeiling(int sessions) { udpCeiling_.store(sessions); }
    int UdpSessionCeiling() const { return udpCeiling_.load(std::memory_order_relaxed); }
    // UDP sessions of one client address at most (0: no bound), whatever ports it sends from; beyond
    // them it is refused ("limit reached"). Read afresh for every new session.
    void SetUdpSessionsPerSource(int sessions) { udpPerSource_.store(sessions); }
    int UdpSessionsPerSource() const { return udpPerSource_.load(std::memory_order_relaxed); }
    // Datagrams of clients that got no session (the ceiling, the limit, the allow and deny lists, no
    // descriptor left), since the listener was made.
    std::uint64_t DatagramsDroppedWithoutSession() const { return udpDropped_.load(); }

    // Up to two more destinations, tried in order when the mapped one cannot be connected (refused,
    // unreachable, timed out, name not found). A destination that failed goes last for
    // kFailedDestinationSkip: the others are tried before it. Read afresh for every connection.
    using Destination = RelayDestination;
    void SetFallbacks(std::vector<Destination> fallbacks);
    // The destinations of a new link, in the order to try them now.
    std::vector<Destination> DestinationsNow();
    // A destination none of whose addresses could be connected.
    void NoteFailedDestination(const Destination& destination);
    static constexpr std::chrono::seconds kFailedDestinationSkip{30};

    // The PROXY protocol header sent to the destination before the client's bytes: 0 (none), 1 (text)
    // or 2 (binary). Read for every new link.
    void SetProxyProtocol(int version) { proxyProtocol_.store(version); }
    int ProxyProtocol() const { return proxyProtocol_.load(); }

    // How long a stop waits for the links to end, in milliseconds.
    void SetTerminateWaitTime(int ms) { terminateWaitTime_.store(ms); }
    int TerminateWaitTime() const { return terminateWaitTime_.load(); }

    // How long the outgoing connection may take, for each address of the destination in turn.
    void SetConnectTimeout(std::chrono::milliseconds t) { connectTimeout_.store(t.count()); }
    std::chrono::milliseconds ConnectTimeout() const {
        return std::chrono::milliseconds(connectTimeout_.load());
    }
    // Looks host names up in place of the system's resolver (tests); set before the first start.
    void SetResolver(RelayResolver resolver) { resolvers_.SetResolver(std::move(resolver)); }
    // A link whose client or destination has ended its stream lives on while the other side still
    // talks; once both sides have been quiet this long it is ended.
    void SetHalfClosedTimeout(std::chrono::milliseconds t) { halfClosedTimeout_.store(t.count()); }
    std::chrono::milliseconds HalfClosedTimeout() const {
        return std::chrono::milliseconds(halfClosedTimeout_.load());
    }

    // true starts (throws RelayError and stays inactive on failure); false stops, blocking until the links
    // have ended or the stop wait has run out. Setting the present value does nothing. A stop always ends
    // with the listener inactive; an exception thrown by StopWaitStep is passed on after that.
    void SetActive(bool active);
    // Stops every active one of them: all are told first, then one wait runs until each has no link left
    // or its own TerminateWaitTime has passed. The wait steps are those of the first listener stopped.
    static void StopTogether(std::span<TRelayListener* const> listeners);
    bool Active() const { return active_.load(); }
    // Port of the listening endpoint; 0 before the first successful start.
    int ListeningPort() const { return endpointPort_.load(); }
    // Any thread: whether `address`:`port` is where this listener listens now for TCP (or UDP when `udp`),
    // on any address of this machine when it listens on every address. A link or session sent there would
    // come back to it as a new client, without end: it is refused as a destination.
    bool IsOwnEndpoint(const RelayAddress& address, int port, bool udp) const;

    // Any thread: the figures of every link that has not ended, those still ending after a stop
    // included. Each relay thread holds its links still only while it copies them.
    std::vector<RelayLinkFigures> Snapshot();
    // Any thread: the link `id` ends as a stop would end it, with its one disconnect event; nothing
    // happens when it has already ended.
    void CloseLink(std::uint64_t id);

    // Set before the first start; called on the link's relay thread with its figures, each running to its
    // end before the link goes on. The other links of that thread wait meanwhile: handlers are to be
    // short. A UDP session raises them as it is made and as it ends.
    std::function<void(const RelayLinkFigures&)> OnConnect;
    std::function<void(const RelayLinkFigures&)> OnDisconnect;
    // A client refused at the accept by the access rules: it raises neither event above, only this
    // one, with the figures it had (its address, the reason), on the thread that accepted it. A UDP
    // client address is reported at most once a second, and the UDP refusals of the whole listener at
    // most TRelaySources::kReportsPerSecond times a second: those beyond are counted and told to
    // OnMoreRefused as one number once their second is over.
    std::function<void(const RelayLinkFigures&)> OnRefused;
    std::function<void(std::uint64_t refused)> OnMoreRefused;

    // Any thread: who may connect from now on, and how many at once (null: everyone, no limit). Links
    // and UDP sessions whose client the allow and deny lists now refuse end ("denied by rule"); a lower
    // limit ends none.
    void SetAccessRules(std::shared_ptr<const RelayAccessRules> rules);
    // Any thread: the bandwidth of the mapping in bytes per second, client to destination (up) and
    // destination to client (down); 0: no limit. Shared fairly by its links, and in force at once for
    // the links already relaying.
    void SetBandwidth(std::uint64_t upBytesPerSecond, std::uint64_t downBytesPerSecond);
    // Called for each wait step of a stop instead of sleeping that long. Default: sleep.
    std::function<void(std::chrono::milliseconds)> StopWaitStep;

    static constexpr std::chrono::milliseconds kStopStep{250};
    static constexpr int kExhaustedWaitMs = 100; // pause of accepting while out of descriptors
    static constexpr unsigned kLoops = 4;        // relay threads at most; no more than the processors
    static constexpr std::chrono::milliseconds kHalfClosedTimeout{60000};
    static constexpr std::chrono::milliseconds kConnectTimeout{20000};
    static constexpr std::chrono::milliseconds kUdpIdleTimeout{60000};
    static constexpr int kUdpSessionCeiling = 10000;
    static constexpr int kUdpSessionsPerSource = TRelaySources::kSessionsPerAddress;

private:
    friend class TRelayLink;
    friend class TRelayLoop;
    friend class TRelayUdp;
    void Start();
    void BeginStop();  // ends accepting, and every loop ends its links
    void FinishStop(); // after the wait: joins the loops that have left, marks the listener inactive
    void JoinFinishedLoops();
    bool LinksEmpty() const {
        return linkCount_.load(std::memory_order_acquire) == 0 &&
               udpSocketsOpen_.load(std::memory_order_acquire) == 0;
    }
    std::uint64_t NextLinkId() { return nextLinkId_.fetch_add(1, std::memory_order_relaxed); }
    // On a relay thread, at each accept: the rules in force, fetched again only when they changed.
    const RelayAccessRules* AccessRules(std::shared_ptr<const RelayAccessRules>& cache, std::uint64_t& seen);
    // Counts a link about to start unless `limit` (> 0) links already live; false then.
    bool ReserveLink(int limit);
    // Counts a UDP session about to start unless the ceiling is reached; false then.
    bool ReserveUdpSession();
    // Every relay thread looks at what is asked of it.
    void WakeLoops();

    std::atomic<int> defaultPort_{0};
    std::atomic<int> mappedPort_{0};
    std::atomic<int> terminateWaitTime_{5000};
    std::atomic<long long> halfClosedTimeout_{kHalfClosedTimeout.count()};
    std::atomic<long long> connectTimeout_{kConnectTimeout.count()};
    mutable std::mutex hostMutex_;
    std::string mappedHost_;
    std::vector<Destination> fallbacks_;
    std::vector<std::pair<std::string, std::chrono::steady_clock::time_point>> failedDestinations_;
    std::atomic<int> proxyProtocol_{0};
    std::atomic<RelayProtocol> protocol_{RelayProtocol::Tcp};
    std::atomic<long long> udpIdleTimeout_{kUdpIdleTimeout.count()};
    std::atomic<int> udpCeiling_{kUdpSessionCeiling};
    std::atomic<int> udpPerSource_{kUdpSessionsPerSource};
    TRelaySources sources_;
    // A new UDP client found the ceiling on a thread with no session to make room: another thread is to.
    std::atomic<bool> udpRoomWanted_{false};
    std::atomic<int> udpSessions_{0};
    // Listening UDP sockets not yet closed by their thread: a stop waits for them, so the port is free
    // when it returns.
    std::atomic<int> udpSocketsOpen_{0};
    std::atomic<std::uint64_t> udpDropped_{0};

    std::mutex controlMutex_;       // one start or stop at a time
    mutable std::mutex loopsMutex_; // the lists of loops below, for snapshots from other threads
    std::atomic<bool> active_{false};
    std::atomic<int> endpointPort_{0};
    RelayListenOn listenOn_;        // under hostMutex_
    std::vector<int> listenFds_;    // while active; the loops share them and the last one closes them
    int noted_ = 0;                 // while active: the port counted as one this program listens on
    std::atomic<int> linkCount_{0}; // links of every loop, those of a past start included
    std::atomic<std::uint64_t> nextLinkId_{1};
    // Under hostMutex_: where and for what the running start listens.
    RelayListenOn startedOn_;
    RelayProtocol startedProtocol_ = RelayProtocol::Tcp;
    std::vector<RelayAddress> startedEndpoints_; // the addresses its sockets are bound to
    // The first UDP socket of each address, all on the first loop: a datagram that every socket sharing
    // the port gets (sent to a broadcast or multicast address) is that one's alone. Read by the loops as
    // the start starts them.
    std::vector<int> udpLeads_;
    std::mutex rulesMutex_;
    std::shared_ptr<const RelayAccessRules> rules_;
    std::atomic<std::uint64_t> rulesGeneration_{0};
    std::mutex bandwidthMutex_;    // both directions change together
    TRelayBandwidth bandwidth_[2]; // up, down
    std::atomic<std::uint64_t> bandwidthGeneration_{0};

    TRelayResolvers resolvers_;
    // Last, so they are destroyed first: they use all of the above. Loops of an earlier start whose links
    // outlived the stop's wait go on in `ending_` until they have left.
    std::vector<std::unique_ptr<TRelayLoop>> loops_;
    std::vector<std::unique_ptr<TRelayLoop>> ending_;
};

} // namespace qv

#pragma once
#include "core/relay/relay_connect.h"
#include "core/relay/relay_figures.h"
#include "core/relay/relay_rules.h"

#include <sys/socket.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace qv {

class TRelayListener;
class TRelayLoop;

// The UDP side of one relay thread: the listening datagram sockets this thread alone owns, and a session
// per client address (and listening socket) with a connected socket of its own towards the destination.
// Replies read from that socket go back to the session's client through the listening socket. One thread
// owning a listening socket and all of its sessions keeps every client on one session without a lock on
// the datagram path.
//
// Datagrams are relayed whole, one by one: never merged or split, those of length 0 included. One that
// cannot be sent (too large for the way out, no room in the sending socket) is dropped and counted, never
// cut. A session ends after carrying nothing either way for the listener's idle time; one whose
// destination has never answered ends sooner (a sixth of it), and is the first to go when a new client
// finds the sessions at their ceiling.
class TRelayUdp {
public:
    using Clock = std::chrono::steady_clock;

    // Takes the listening sockets; Start watches them.
    TRelayUdp(TRelayLoop& loop, const std::vector<int>& fds);
    ~TRelayUdp(); // closes every socket, without events: EndAll runs first
    TRelayUdp(const TRelayUdp&) = delete;
    TRelayUdp& operator=(const TRelayUdp&) = delete;

    bool Start(); // false (errno set) when a socket cannot be watched or memory is short

    // The epoll tags of this side's sockets; Owns tells them from the loop's others.
    static bool Owns(std::uint64_t tag) { return (tag & kUdpBit) != 0; }
    void OnEvent(std::uint64_t tag, std::uint32_t events);
    // When the oldest idle session is due to end, or refusals counted are to be told (max when none).
    Clock::time_point NextDeadline() const;
    void OnTime(Clock::time_point now);
    // The stop: the listening sockets close and every session ends with `reason`.
    void EndAll(RelayEndReason reason);
    void Collect(); // frees the sessions that ended this turn
    // Any thread.
    void Snapshot(std::vector<RelayLinkFigures>& into) const;
    // The loop's thread: the session `id`, if it is one of these, ends as a stop would end it.
    void Close(std::uint64_t id);
    // The loop's thread: every session whose client `rules` refuse ends ("denied by rule").
    void EndRefused(const RelayAccessRules& rules);

    static constexpr int kBatch = 32;        // datagrams per system call
    static constexpr int kRoundsPerTurn = 8; // batches a socket may move before the others get theirs
    static constexpr std::size_t kBufferSize = 65536; // the largest datagram and one byte more
    // What a session keeps of the datagrams its destination has not answered yet, to send them on to the
    // next destination when this one refuses: only while there is a next one to try.
    static constexpr std::size_t kKeptDatagrams = 4;
    static constexpr std::size_t kKeptBytes = 16384;
    static constexpr std::chrono::seconds kRoomAfter{1};

private:
    struct Session;
    struct Trying;
    struct Key {
        std::array<std::uint8_t, 16> address;
        std::uint16_t port;
        std::uint8_t family;
        std::uint8_t listen;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const; // keyed: clients choose their addresses and ports
    };
    union Peer {
        sockaddr_in v4;
        sockaddr_in6 v6;
    };
    // The address a client sent to, on a socket listening on every address: its replies leave from
    // there, not from whichever address the routing would pick (a client whose socket is connected
    // drops datagrams from any other). Family 0 on a socket bound to one address.
    struct Local {
        std::uint8_t family = 0;
        bool everyCopy = false; // sent to a broadcast or multicast address: every socket on the port got it
        std::uint32_t ifindex = 0;
        std::array<std::uint8_t, 16> address{}; // zero: the system picks the address
    };
    static constexpr std::size_t kControlSize = CMSG_SPACE(sizeof(in6_pktinfo));
    static Local LocalOf(const msghdr& h);
    // The control message of a reply from `local` into `control`; its length.
    static std::size_t ReplyControl(const Local& local, char* control);

    static constexpr std::uint64_t kUdpBit = 1ull << 62;
    static constexpr std::uint64_t kListenBit = 1ull << 61;
    static constexpr std::uint64_t kLookupBit = 1ull << 60;
    static std::uint64_t SessionTag(const Session& s, bool lookup);
    static Key KeyOf(std::size_t listen, const Peer& peer);

    void FromClients(std::size_t listen);
    void FromDestination(Session& s);
    // Datagrams [first, first + count) of the receive buffers, from the session's client.
    void SendUp(Session& s, int first, int count);
    Session* Admit(std::size_t listen, const Peer& peer, socklen_t length, const Local& local,
                   Clock::time_point now);
    void Refuse(const Peer& peer, socklen_t length, RelayEndReason reason, Clock::time_point now);
    void Resolve(Session& s);
    void ConnectNext(Session& s);
    void OnLookupDone(Session& s);
    // The destination refused or cannot be reached (errno value): the next address or destination while
    // it has never answered, else the end.
    void DestinationFailed(Session& s, int error);
    bool Keep(Session& s, const char* data, std::size_t length); // false: no room
    // Sessions least recently active first; those answered and those not in chains of their own, as
    // they go idle at different times.
    struct Chain {
        Session* oldest = nullptr;
        Session* newest = nullptr;
    };
    Chain& ChainOf(const Session& s);
    void Touch(Session& s, Clock::time_point now);
    void Unlink(Session& s);
    // A new client at the ceiling: this thread's session that has been quiet and unanswered for longest
    // ends to make room, once it has been so for kRoomAfter.
    bool MakeRoom(Clock::time_point now);
    Session* RoomGiver(Clock::time_point now) const;
    void Finish(Session& s, RelayEndReason reason);
    void CloseListening();
    RelayLinkFigures Figures(const Session& s) const;
    void NoteDropped(Session* s, std::uint64_t n = 1);

    TRelayLoop& loop_;
    TRelayListener& listener_;
    std::vector<int> fds_;
    bool closed_ = false;
    std::vector<bool> wildcard_; // per listening socket: bound to every address
    std::vector<bool> lead_;     // per listening socket: the one of its address that takes broadcasts

    // Receive buffers and headers, shared by every socket of this thread: one system call fills them and
    // the next one sends from them.
    std::unique_ptr<char[]> buffers_;
    std::array<mmsghdr, kBatch> messages_{};
    std::array<iovec, kBatch> iovs_{};
    std::array<Peer, kBatch> peers_{};
    alignas(cmsghdr)
        std::array<std::array<char, kControlSize>, kBatch> controls_{}; // kControlSize keeps each aligned

    mutable std::mutex mutex_; // the table of sessions and their destinations, for snapshots
    std::unordered_map<Key, Session*, KeyHash> sessions_;
    Chain answered_;
    Chain unanswered_;
    std::vector<Session*> dead_;
    std::shared_ptr<const RelayAccessRules> rules_;
    std::uint64_t rulesSeen_ = ~std::uint64_t{0};
    // Refusals counted beyond those reported are told at this time (max: none counted).
    Clock::time_point unreportedDue_ = Clock::time_point::max();
};

} // namespace qv

#pragma once
// What the two halves of the UDP relay share: a session and its figures' helpers. Only they include it.
#include "core/relay/relay_udp.h"

#include "core/relay/relay_own_sockets.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv {

namespace udp_detail {
// Counters written by the loop's thread alone and read by snapshots.
inline void Add(std::atomic<std::uint64_t>& counter, std::uint64_t n) {
    counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
}

// Errors a connected datagram socket reports from the ICMP answers to what it sent: the destination is
// not there.
inline bool DestinationGone(int error) {
    const RelayEndReason reason = ReasonOfConnectError(error);
    return reason == RelayEndReason::Refused || reason == RelayEndReason::Unreachable;
}
} // namespace udp_detail

// Until its destination has answered, a session keeps what it needs to try the next one.
struct TRelayUdp::Trying {
    std::vector<RelayDestination> destinations;
    std::size_t nextDestination = 0;
    std::vector<RelayAddress> addresses;
    std::size_t nextAddress = 0;
    int port = 0;
    int lastError = 0;
    std::shared_ptr<TRelayResolvers::Lookup> lookup;
    std::vector<std::string> kept; // datagrams sent and not answered, for the next destination
    std::size_t keptBytes = 0;
    // The last of them, kept while no destination was connected: not sent, nor counted, yet.
    std::size_t unsent = 0;

    bool NextChoice() const {
        return nextAddress < addresses.size() || nextDestination < destinations.size();
    }
};

// One client address of one listening socket. Small while idle: no buffer of its own.
struct TRelayUdp::Session {
    std::uint64_t id = 0;
    int fd = -1;
    std::uint8_t listen = 0;
    bool done = false;
    bool answered = false; // the destination has sent something back
    socklen_t clientLength = 0;
    Peer client{};
    Local local;
    Peer destination{}; // under the mutex; length 0 until connected
    socklen_t destinationLength = 0;
    socklen_t triedLength = 0; // of `destination` as connected last, reached or not
    TRelayOwnSocket own;       // fd, while it is the relay's own towards this machine
    std::atomic<RelayLinkState> state{RelayLinkState::Resolving};
    std::atomic<RelayEndReason> reason{RelayEndReason::None};
    std::atomic<std::uint64_t> bytesUp{0};
    std::atomic<std::uint64_t> bytesDown{0};
    std::atomic<std::uint64_t> datagramsUp{0};
    std::atomic<std::uint64_t> datagramsDown{0};
    std::atomic<std::uint64_t> dropped{0};
    std::chrono::system_clock::time_point started = std::chrono::system_clock::now();
    Clock::time_point startedSteady;
    Clock::time_point last;
    Session* older = nullptr;
    Session* newer = nullptr;
    std::unique_ptr<Trying> trying;
};

} // namespace qv

#pragma once
#include "core/relay/relay_connect.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace qv {

// What a mapping relays: TCP connections, UDP datagrams, or both on the same port number.
enum class RelayProtocol : std::uint8_t { Tcp, Udp, Both };

// Where a link is in its life.
enum class RelayLinkState : std::uint8_t { Resolving, Connecting, Relaying, HalfClosed, Ending };

// Why a link ended.
enum class RelayEndReason : std::uint8_t {
    None,
    ClientClosed,
    DestinationClosed,
    Refused,
    TimedOut,
    NameNotFound,
    Unreachable,
    ClientReset,
    DestinationReset,
    HalfClosedTimeout,
    Stopped,
    ClosedByUser,
    Failed,       // no descriptor, no memory, no lookup thread
    DeniedByRule, // refused at the accept: the client is not allowed
    LimitReached, // refused at the accept: the mapping has as many links as it may
    IdleTimeout,  // a UDP session that carried no datagram either way for its idle time
    Loop,         // the client is one of the relay's own outgoing sockets: it would relay to itself
};

const char* StateText(RelayLinkState state);
const char* ReasonText(RelayEndReason reason);
const char* ProtocolText(RelayProtocol protocol); // "TCP", "UDP", "TCP+UDP"

// A link (a TCP connection or a UDP session) as its loop's thread last wrote it: read through a
// listener's snapshot while it lives, and handed to the event handlers.
struct RelayLinkFigures {
    std::uint64_t id = 0;                        // unique within its listener
    RelayProtocol protocol = RelayProtocol::Tcp; // Tcp or Udp
    RelayAddress client;
    RelayAddress destination; // length 0 until connected
    RelayAddress tried;       // the destination address connected to last, reached or not
    RelayLinkState state = RelayLinkState::Resolving;
    RelayEndReason reason = RelayEndReason::None;
    std::uint64_t bytesUp = 0;   // client to destination
    std::uint64_t bytesDown = 0; // destination to client
    // UDP only: datagrams relayed each way, and those dropped (too large for the way out, or no room in
    // the sending socket).
    std::uint64_t datagramsUp = 0;
    std::uint64_t datagramsDown = 0;
    std::uint64_t datagramsDropped = 0;
    std::chrono::system_clock::time_point started;
    std::chrono::steady_clock::time_point startedSteady;
};

// "192.0.2.1:80" or "[2001:db8::1]:80"; an IPv4-mapped address in its IPv4 form; empty for an address
// of length 0.
std::string EndpointText(const RelayAddress& address);

// Why a destination could not be reached, from the error of an attempt (nonzero): refused, timed out,
// unreachable, or failed.
RelayEndReason ReasonOfConnectError(int error);

} // namespace qv

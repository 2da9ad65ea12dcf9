#pragma once
#include "core/relay/relay_connect.h"

#include <array>
#include <cstdint>

namespace qv {

class TRelayListener;

// An outgoing socket of the relay towards this machine, known for as long as it is held, with the mappings
// its bytes have come through. A client that is one of them comes from the relay itself: one that has
// already come through the mapping it reaches is going round (two mappings that are each other's
// destination, a name that leads back here), and its link or session ends at once. One mapping that
// sends on to another of this program is no loop and goes on.
class TRelayOwnSocket {
public:
    TRelayOwnSocket() = default;
    ~TRelayOwnSocket() { Release(); }
    TRelayOwnSocket(const TRelayOwnSocket&) = delete;
    TRelayOwnSocket& operator=(const TRelayOwnSocket&) = delete;

    // As soon as fd (TCP, or UDP when `udp`) is connecting to `destination`:`port` for a client of
    // `mapping`: 0 when it may go on, ECONNREFUSED when the socket is about to reach itself (a destination
    // on this machine where nothing listens, whose port happened to be the socket's automatic one: the
    // client would get its own bytes back), or why its own address cannot be told. A socket that may go on
    // is known until released, before the other end can take it in.
    int Take(int fd, RelayAddress destination, int port, bool udp, const RelayAddress& client,
             const TRelayListener& mapping);
    void Release();
    // Held from before a socket's connect to `destination`:`port` until Take: a mapping on that port
    // that takes in a client meanwhile waits to tell whether it is this socket.
    class Connecting {
    public:
        Connecting(const RelayAddress& destination, int port);
        ~Connecting();
        Connecting(const Connecting&) = delete;
        Connecting& operator=(const Connecting&) = delete;

    private:
        int port_ = 0;
    };
    // The ports this program's mappings listen on, counted as they start (+1) and stop (-1): only a socket
    // connecting to one of them can come back as a client of the relay, so only such sockets are known.
    static void NoteListening(int port, int change);
    // Any thread: whether `client` of `mapping` is one of the relay's own sockets held now whose bytes
    // have already come through that mapping.
    static bool GoesRound(const RelayAddress& client, bool udp, const TRelayListener& mapping);

    struct Key {
        std::array<std::uint8_t, 16> address{};
        std::uint16_t port = 0;
        std::uint16_t to = 0; // the port it connects to: connected TCP sockets share a local port
        std::uint8_t family = 0;
        bool udp = false;
        bool operator==(const Key&) const = default;
    };

private:
    Key key_;
    bool held_ = false;
};

// Whether a connection to `destination` arrives at a socket bound to `bound` on the same port: the same
// address, or any address of this machine for a socket bound to every address.
bool ReachesBound(const RelayAddress& destination, const RelayAddress& bound);

} // namespace qv

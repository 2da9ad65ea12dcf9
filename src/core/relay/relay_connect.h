#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace qv {

// Where a link may go: a host name or numeric address, and a port.
struct RelayDestination {
    std::string host;
    int port = 0;
};

// One address of a destination; its port is set by the connect.
struct RelayAddress {
    sockaddr_storage addr{};
    socklen_t length = 0;
};

// Turns a host name into its addresses, in the order they are to be tried. Runs on a lookup thread.
using RelayResolver = std::function<std::vector<RelayAddress>(const std::string& host)>;

// The system's resolver: IPv6 and IPv4 addresses alike, in the order it prefers.
std::vector<RelayAddress> SystemResolve(const std::string& host);

// Host-name lookups run on a few helper threads so that a link waiting for one can still be stopped. No
// one ever waits for a lookup thread: a lookup whose link has gone finishes on its own, and the threads
// end once idle, also after this object is gone.
class TRelayResolvers {
public:
    TRelayResolvers();
    ~TRelayResolvers(); // returns at once
    TRelayResolvers(const TRelayResolvers&) = delete;
    TRelayResolvers& operator=(const TRelayResolvers&) = delete;

    // Replaces the system's resolver (tests); set before the first lookup.
    void SetResolver(RelayResolver resolver);

    // One lookup. A byte is written to pipe[1] once the answer is in addresses; ready is set before it.
    struct Lookup {
        std::string host;
        int pipe[2] = {-1, -1};
        std::vector<RelayAddress> addresses;
        std::atomic<bool> ready{false};
        ~Lookup();
    };
    // Queues a lookup of host; null when no thread could be had for it.
    std::shared_ptr<Lookup> Start(const std::string& host);

    // At most this many lookups run at once; the others wait their turn.
    static constexpr int kMaxThreads = 16;
    static constexpr std::chrono::seconds kIdleTime{5};

private:
    struct Shared;
    static void Work(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
};

// The numeric address host spells, parsed strictly (a dotted quad of four decimal numbers, or an IPv6
// address); false when host is not one.
bool ParseNumericHost(const std::string& host, RelayAddress& address);

// A name whose last label is a number, such as "127.1" or "0x7f000001": a numeric form that the strict
// parse refused, which the system's resolver would still take for an address. It is not looked up.
bool LooksNumeric(const std::string& host);

// Begins a non-blocking TCP connection to address:port, watched for a dead peer. The socket, or -1 when none
// could be opened or the address refused at once; `connected` is set when the connection was made at once.
int BeginConnect(RelayAddress address, int port, bool& connected);

// Once the socket reports writable or failed: 0 when the connection begun on fd has been made, else
// why not (an errno value).
int ConnectError(int fd);

} // namespace qv

#include "core/relay/relay_own_sockets.h"

#include "core/relay/relay_listener.h"
#include "core/relay/relay_socket.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <new>
#include <sys/socket.h>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qv {
namespace {

using Key = TRelayOwnSocket::Key;

// An IPv4 address in its IPv6-mapped form (a client of a dual-stack socket) is read as IPv4.
Key KeyOf(const sockaddr_storage& a, bool udp, int to = 0) {
    Key key;
    key.udp = udp;
    key.to = htons(static_cast<std::uint16_t>(to));
    if (a.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
        key.family = AF_INET;
        std::memcpy(key.address.data(), &v4.sin_addr, 4);
        key.port = v4.sin_port;
    } else if (a.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        key.port = v6.sin6_port;
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            key.family = AF_INET;
            std::memcpy(key.address.data(), v6.sin6_addr.s6_addr + 12, 4);
        } else {
            key.family = AF_INET6;
            std::memcpy(key.address.data(), &v6.sin6_addr, 16);
        }
    }
    return key;
}

bool Unspecified(const Key& key) {
    for (std::uint8_t byte : key.address)
        if (byte != 0)
            return false;
    return true;
}

bool Loopback(const Key& key) {
    if (key.family == AF_INET)
        return key.address[0] == 127;
    static const std::array<std::uint8_t, 16> kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return key.address == kLoopback6;
}

// The system takes a bind only to an address of its own.
bool OnThisMachine(const Key& key) {
    sockaddr_storage a{};
    socklen_t length = 0;
    if (key.family == AF_INET) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(a);
        v4.sin_family = AF_INET;
        std::memcpy(&v4.sin_addr, key.address.data(), 4);
        length = sizeof v4;
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(a);
        v6.sin6_family = AF_INET6;
        std::memcpy(&v6.sin6_addr, key.address.data(), 16);
        length = sizeof v6;
    }
    int fd = ::socket(key.family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool local = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), length) == 0;
    CloseFd(fd);
    return local;
}

struct KeyHash {
    std::size_t operator()(const Key& key) const {
        std::uint64_t a = 0, b = 0;
        std::memcpy(&a, key.address.data(), 8);
        std::memcpy(&b, key.address.data() + 8, 8);
        return std::hash<std::uint64_t>()(a ^ b * 31 ^ (std::uint64_t{key.port} << 1 | key.udp));
    }
};

// The mappings a socket's bytes have come through; TCP sockets made by connect may share a local port.
struct Held {
    int sockets = 0;
    std::vector<const void*> through;
};

// Never destroyed: relay threads may still release their sockets while the process exits.
struct Registry {
    std::mutex mutex;
    std::unordered_map<Key, Held, KeyHash> held;
    std::atomic<std::size_t> count{0};
    // Connects to this machine under way, by the port they go to (a few ports share a counter).
    std::array<std::atomic<int>, 1024> towards{};
    // How many mappings listen on each port.
    std::array<std::atomic<std::uint16_t>, 65536> listening{};
};
Registry& Own() {
    static Registry* registry = new Registry;
    return *registry;
}

std::atomic<int>& Towards(int port) {
    return Own().towards[static_cast<std::size_t>(port) % 1024];
}

bool Listened(int port) {
    return port > 0 && port < 65536 &&
           Own().listening[static_cast<std::size_t>(port)].load(std::memory_order_relaxed) != 0;
}

// The entry of `key`, a client of a mapping on `port`. A connect towards that port that is still under
// way may be this very client, taken in by the mapping before its connect returned: it is waited for,
// a few milliseconds at most.
auto Find(std::unique_lock<std::mutex>& lock, const Key& key, int port) {
    Registry& own = Own();
    auto found = own.held.find(key);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
    while (found == own.held.end() && Towards(port).load(std::memory_order_acquire) > 0 &&
           std::chrono::steady_clock::now() < until) {
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
        found = own.held.find(key);
    }
    return found;
}

} // namespace

void TRelayOwnSocket::NoteListening(int port, int change) {
    if (port > 0 && port < 65536)
        Own().listening[static_cast<std::size_t>(port)].fetch_add(static_cast<std::uint16_t>(change),
                                                                  std::memory_order_relaxed);
}

TRelayOwnSocket::Connecting::Connecting(const RelayAddress& destination, int port) {
    if (!Listened(port))
        return;
    const Key to = KeyOf(destination.addr, false);
    if (Loopback(to) || Unspecified(to)) {
        port_ = port;
        Towards(port).fetch_add(1, std::memory_order_acq_rel);
    }
}

TRelayOwnSocket::Connecting::~Connecting() {
    if (port_ != 0)
        Towards(port_).fetch_sub(1, std::memory_order_acq_rel);
}

int TRelayOwnSocket::Take(int fd, RelayAddress destination, int port, bool udp, const RelayAddress& client,
                          const TRelayListener& mapping) {
    Release();
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return errno;
    const Key mine = KeyOf(local, udp, port);
    Key theirs = KeyOf(destination.addr, udp, port);
    theirs.port = mine.to;
    if (mine == theirs)
        return ECONNREFUSED;
    // A port no mapping of this program listens on cannot bring the socket back: the usual case, told
    // without a lock.
    if (!Listened(port))
        return 0;
    // Only a destination on this machine can bring the socket back as a client.
    theirs.port = mine.port;
    if (!Loopback(theirs) && !(mine == theirs))
        return 0;
    Registry& own = Own();
    try {
        std::lock_guard lock(own.mutex);
        std::vector<const void*> through{&mapping};
        // Known already when the link or session asked whether it goes round: no wait here, which could
        // meet that of a connect going the other way.
        const Key from = KeyOf(client.addr, udp, mapping.ListeningPort());
        if (auto came = own.held.find(from); client.length != 0 && came != own.held.end())
            through.insert(through.end(), came->second.through.begin(), came->second.through.end());
        Held& entry = own.held[mine];
        for (const void* m : through)
            if (std::find(entry.through.begin(), entry.through.end(), m) == entry.through.end())
                entry.through.push_back(m);
        ++entry.sockets;
        own.count.fetch_add(1, std::memory_order_relaxed);
        key_ = mine;
        held_ = true;
    } catch (const std::bad_alloc&) {
        // Not known: a loop through it ends at the mapping's limits instead.
    }
    return 0;
}

void TRelayOwnSocket::Release() {
    if (!held_)
        return;
    held_ = false;
    Registry& own = Own();
    std::lock_guard lock(own.mutex);
    auto found = own.held.find(key_);
    if (found != own.held.end() && --found->second.sockets == 0)
        own.held.erase(found);
    own.count.fetch_sub(1, std::memory_order_relaxed);
}

bool TRelayOwnSocket::GoesRound(const RelayAddress& client, bool udp, const TRelayListener& mapping) {
    Registry& own = Own();
    const int port = mapping.ListeningPort();
    if (client.length == 0 || (own.count.load(std::memory_order_relaxed) == 0 &&
                               Towards(port).load(std::memory_order_acquire) == 0))
        return false;
    const Key key = KeyOf(client.addr, udp, port);
    std::unique_lock lock(own.mutex);
    auto found = Find(lock, key, port);
    return found != own.held.end() && std::find(found->second.through.begin(), found->second.through.end(),
                                                &mapping) != found->second.through.end();
}

bool ReachesBound(const RelayAddress& destination, const RelayAddress& bound) {
    const Key to = KeyOf(destination.addr, false);
    const Key at = KeyOf(bound.addr, false);
    // A connect to the unspecified address goes to this machine.
    if (Unspecified(to))
        return true;
    if (!Unspecified(at))
        return to.family == at.family && to.address == at.address;
    // Bound to every address: an IPv4 socket takes IPv4 only, a dual-stack one both.
    if (bound.addr.ss_family == AF_INET && to.family != AF_INET)
        return false;
    return OnThisMachine(to);
}

} // namespace qv

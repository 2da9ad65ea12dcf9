#include "core/relay/relay_socket.h"

#include "core/relay/relay_port_holder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace qv {

std::string SocketErrorText(int error) {
    return "Socket Error # " + std::to_string(error) + "\r\n" + std::system_category().message(error);
}

namespace {
// Room for bursts of datagrams between two turns of the loop (the kernel cuts it down to its maximum).
constexpr int kDatagramBuffer = 4 << 20;

// One listening socket on an address whose port is set; `v6only` for an IPv6 socket that is not to take
// IPv4 clients too.
// `shared`: one of a UDP socket's copies, each bound with SO_REUSEPORT.
int OpenOne(sockaddr_storage address, socklen_t length, int port, bool v6only, bool datagram, bool shared) {
    if (address.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(static_cast<uint16_t>(port));
    int fd =
        ::socket(address.ss_family, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw RelayError(SocketErrorText(errno));
    auto fail = [&fd](int error) {
        CloseFd(fd);
        if (error == EADDRINUSE)
            throw RelayError(kAddressInUseText, error);
        throw RelayError(SocketErrorText(error), error);
    };
    int one = 1;
    const int only = v6only ? 1 : 0;
    // No SO_REUSEADDR for UDP: there it would let a second socket share the port instead of failing.
    if (datagram) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kDatagramBuffer, sizeof kDatagramBuffer);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kDatagramBuffer, sizeof kDatagramBuffer);
        if (shared && ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) != 0)
            fail(errno);
    } else if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 || !WatchForDeadPeer(fd)) {
        fail(errno);
    }
    if ((address.ss_family == AF_INET6 &&
         ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) != 0))
        fail(errno);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0)
        fail(errno);
    // The system's maximum (the kernel cuts the request down to it): a short queue drops handshakes when
    // clients arrive together, and they retry only a second later.
    if (!datagram && ::listen(fd, INT_MAX) != 0)
        fail(errno);
    return fd;
}

// One listening socket on a numeric address.
int OpenOn(const char* text, int port, bool v6only, bool datagram, bool shared) {
    sockaddr_storage address{};
    socklen_t length = 0;
    if (::inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr) == 1) {
        address.ss_family = AF_INET;
        length = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, text, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr) == 1) {
        address.ss_family = AF_INET6;
        length = sizeof(sockaddr_in6);
    } else {
        throw RelayError(SocketErrorText(EINVAL), EINVAL);
    }
    return OpenOne(address, length, port, v6only, datagram, shared);
}

// `copies` sockets on each address (more than one: UDP sockets sharing the port), the copies of one
// address next to each other.
std::vector<int> OpenSockets(int port, const RelayListenOn& on, bool datagram, int copies) {
    if (port < 1 || port > 65535)
        throw RelayError(SocketErrorText(EINVAL));
    using Kind = RelayListenOn::Kind;
    struct Where {
        const char* text;
        bool v6only;
        bool optional; // a machine without IPv6 has no ::1: this machine is 127.0.0.1 then
    };
    std::vector<Where> addresses;
    switch (on.kind) {
    case Kind::AllIPv4:
        addresses = {{"0.0.0.0", false, false}};
        break;
    case Kind::AllAddresses:
        addresses = {{"::", false, false}};
        break;
    case Kind::OneAddress:
        addresses = {{on.address.c_str(), true, false}};
        break;
    case Kind::ThisMachine:
        addresses = {{"127.0.0.1", false, false}, {"::1", true, true}};
        break;
    }
    std::vector<int> fds;
    try {
        for (const Where& where : addresses)
            for (int copy = 0; copy < copies; ++copy) {
                try {
                    fds.push_back(OpenOn(where.text, port, where.v6only, datagram, copies > 1));
                } catch (const RelayError& error) {
                    if (!where.optional || copy > 0 ||
                        (error.Code() != EADDRNOTAVAIL && error.Code() != EAFNOSUPPORT))
                        throw;
                    break;
                }
            }
        // Copies bound with SO_REUSEPORT would let another program's socket of this user join them on
        // the port: one found there is a port in use, as without them.
        if (copies > 1 && UdpPortShared(fds))
            throw RelayError(kAddressInUseText, EADDRINUSE);
    } catch (...) {
        for (int& fd : fds)
            CloseFd(fd);
        throw;
    }
    return fds;
}
} // namespace

int OpenListeningSocket(int port) {
    return OpenListeningSockets(port, {}).front();
}

std::vector<int> OpenListeningSockets(int port, const RelayListenOn& on) {
    return OpenSockets(port, on, false, 1);
}

std::vector<int> OpenDatagramSockets(int port, const RelayListenOn& on, int copies) {
    return OpenSockets(port, on, true, std::max(copies, 1));
}

int BoundPort(int fd) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

bool WatchForDeadPeer(int fd) {
    const int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdle, sizeof kKeepAliveIdle) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveInterval, sizeof kKeepAliveInterval) ==
               0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeout, sizeof kUserTimeout) == 0;
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace qv

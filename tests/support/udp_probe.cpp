#include "support/udp_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>

namespace qvtest {

namespace {
sockaddr_storage Address(const char* host, int port, socklen_t& length) {
    sockaddr_storage a{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    if (::inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v4;
    } else {
        ::inet_pton(AF_INET6, host, &v6->sin6_addr);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v6;
    }
    return a;
}
} // namespace

Fd UdpSocket(const char* host, int port, int peerPort, const char* peer) {
    socklen_t length = 0;
    sockaddr_storage local = Address(host, port, length);
    Fd fd(::socket(local.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int buffer = 1 << 20;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), length) != 0)
        throw std::runtime_error(std::string("cannot bind a UDP socket on ") + host);
    if (peerPort) {
        sockaddr_storage remote = Address(peer ? peer : host, peerPort, length);
        if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&remote), length) != 0)
            throw std::runtime_error("cannot connect a UDP socket");
    }
    return fd;
}

std::optional<std::string> ReceiveDatagram(int fd, std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1)
        return std::nullopt;
    std::string data(70000, '\0');
    const ssize_t n = ::recv(fd, data.data(), data.size(), 0);
    if (n < 0)
        return std::nullopt;
    data.resize(static_cast<std::size_t>(n));
    return data;
}

UdpEcho::UdpEcho(const char* host, int port) : fd_(UdpSocket(host, port)) {
    port_ = LocalPort(fd_.Get());
    thread_ = std::thread([this] {
        std::string data(70000, '\0');
        while (!stop_.load()) {
            pollfd p{fd_.Get(), POLLIN, 0};
            if (::poll(&p, 1, 20) != 1)
                continue;
            sockaddr_storage from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(fd_.Get(), data.data(), data.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (n >= 0)
                ::sendto(fd_.Get(), data.data(), static_cast<std::size_t>(n), 0,
                         reinterpret_cast<sockaddr*>(&from), length);
        }
    });
}

UdpEcho::~UdpEcho() {
    stop_.store(true);
    thread_.join();
}

} // namespace qvtest

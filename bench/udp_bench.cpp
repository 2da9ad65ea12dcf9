// UDP side of the relay benchmark: a destination that echoes datagrams, and the load generator.
//
//   udp_bench echo PORT [THREADS]          echoes every datagram on 127.0.0.1:PORT (THREADS sockets
//                                          sharing the port, 2 by default)
//   udp_bench rate PORT SIZE CLIENTS SECS  CLIENTS sockets each keep kWindow datagrams of SIZE bytes in
//                                          flight through 127.0.0.1:PORT; prints "value=" echoed
//                                          datagrams per second (each one crossed the relay twice)
//   udp_bench latency PORT COUNT           one 64-byte datagram at a time; prints "p50=" and "p99=" in µs
//   udp_bench idle PORT N HOLD             N sockets each send one datagram and wait for its echo, print
//                                          "ready echoing=" how many got it, then hold for HOLD seconds
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBatch = 32;
constexpr int kWindow = 32;                                // datagrams in flight per client
constexpr auto kLostAfter = std::chrono::milliseconds(20); // no echo that long: the window was lost

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int Client(int port, bool nonblocking) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0);
    sockaddr_in to = Loopback(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("client");
        std::exit(1);
    }
    return fd;
}

void Echo(int port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    int buffer = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    sockaddr_in at = Loopback(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        std::perror("echo bind");
        std::exit(1);
    }
    std::vector<char> data(static_cast<std::size_t>(kBatch) * 65536);
    mmsghdr messages[kBatch];
    iovec iovs[kBatch];
    sockaddr_storage peers[kBatch];
    for (;;) {
        for (int i = 0; i < kBatch; ++i) {
            iovs[i] = {data.data() + i * 65536, 65536};
            messages[i].msg_hdr = {};
            messages[i].msg_hdr.msg_name = &peers[i];
            messages[i].msg_hdr.msg_namelen = sizeof peers[i];
            messages[i].msg_hdr.msg_iov = &iovs[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = ::recvmmsg(fd, messages, kBatch, MSG_WAITFORONE, nullptr);
        if (n <= 0)
            continue;
        for (int i = 0; i < n; ++i)
            iovs[i].iov_len = messages[i].msg_len;
        for (int at = 0; at < n;) {
            const int sent = ::sendmmsg(fd, messages + at, static_cast<unsigned>(n - at), 0);
            at += sent > 0 ? sent : 1;
        }
    }
}

struct Flow {
    int fd;
    int inFlight = 0;
    Clock::time_point lastEcho;
};

void Send(Flow& f, const std::vector<char>& payload, int count) {
    mmsghdr messages[kWindow];
    iovec iov{const_cast<char*>(payload.data()), payload.size()};
    for (int i = 0; i < count; ++i) {
        messages[i].msg_hdr = {};
        messages[i].msg_hdr.msg_iov = &iov;
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int sent = ::sendmmsg(f.fd, messages, static_cast<unsigned>(count), 0);
    f.inFlight += std::max(sent, 0);
}

void Rate(int port, std::size_t size, int clients, double seconds) {
    const std::vector<char> payload(size, 'u');
    std::vector<Flow> flows;
    const auto start = Clock::now();
    int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < clients; ++i) {
        flows.push_back({Client(port, true), 0, start});
        epoll_event e{EPOLLIN, {.u32 = static_cast<std::uint32_t>(i)}};
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, flows.back().fd, &e);
    }
    std::vector<char> data(static_cast<std::size_t>(kBatch) * 65536);
    mmsghdr messages[kBatch];
    iovec iovs[kBatch];
    const auto warm = start + std::chrono::milliseconds(300);
    const auto end =
        warm + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (Flow& f : flows) {
        f.lastEcho = start;
        Send(f, payload, kWindow);
    }
    std::uint64_t echoed = 0;
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        epoll_event events[64];
        const int n = ::epoll_wait(epoll, events, 64, 5);
        now = Clock::now();
        for (int k = 0; k < n; ++k) {
            Flow& f = flows[events[k].data.u32];
            for (int i = 0; i < kBatch; ++i) {
                iovs[i] = {data.data() + i * 65536, 65536};
                messages[i].msg_hdr = {};
                messages[i].msg_hdr.msg_iov = &iovs[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            const int got = ::recvmmsg(f.fd, messages, kBatch, MSG_DONTWAIT, nullptr);
            if (got <= 0)
                continue;
            if (now >= warm)
                echoed += static_cast<std::uint64_t>(got);
            f.inFlight = std::max(0, f.inFlight - got);
            f.lastEcho = now;
            Send(f, payload, std::min(got, kWindow - f.inFlight));
        }
        for (Flow& f : flows)
            if (now - f.lastEcho > kLostAfter) {
                f.inFlight = 0;
                f.lastEcho = now;
                Send(f, payload, kWindow);
            }
    }
    std::printf("value=%.0f\n", static_cast<double>(echoed) / seconds);
}

void Latency(int port, int count) {
    int fd = Client(port, false);
    timeval timeout{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char data[64] = {};
    std::vector<double> times;
    for (int i = 0; i < count + 100; ++i) {
        const auto t0 = Clock::now();
        if (::send(fd, data, sizeof data, 0) != sizeof data ||
            ::recv(fd, data, sizeof data, 0) != sizeof data)
            continue; // lost: not counted
        if (i >= 100)
            times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    if (times.empty())
        return;
    std::printf("p50=%.1f p99=%.1f\n", times[times.size() / 2], times[times.size() * 99 / 100]);
}

void Idle(int port, int count, int hold) {
    std::vector<int> fds;
    int echoing = 0;
    char byte = 'i';
    for (int i = 0; i < count; ++i) {
        fds.push_back(Client(port, false));
        ::send(fds.back(), &byte, 1, 0);
        // One at a time, with a retry or two: a relay that forks per client loses the first datagrams.
        for (int attempt = 0; attempt < 3; ++attempt) {
            pollfd p{fds.back(), POLLIN, 0};
            if (::poll(&p, 1, 200) == 1 && ::recv(fds.back(), &byte, 1, 0) == 1) {
                ++echoing;
                break;
            }
            ::send(fds.back(), &byte, 1, 0);
        }
    }
    std::printf("ready echoing=%d\n", echoing);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(hold));
}

} // namespace

int main(int argc, char** argv) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "echo" && argc >= 3) {
        const int threads = argc > 3 ? std::atoi(argv[3]) : 2;
        std::vector<std::thread> workers;
        for (int i = 1; i < threads; ++i)
            workers.emplace_back(Echo, std::atoi(argv[2]));
        Echo(std::atoi(argv[2]));
    } else if (mode == "rate" && argc == 6) {
        Rate(std::atoi(argv[2]), static_cast<std::size_t>(std::atol(argv[3])), std::atoi(argv[4]),
             std::atof(argv[5]));
    } else if (mode == "latency" && argc == 4) {
        Latency(std::atoi(argv[2]), std::atoi(argv[3]));
    } else if (mode == "idle" && argc == 5) {
        Idle(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    } else {
        std::fprintf(stderr,
                     "usage: %s echo PORT [THREADS] | rate PORT SIZE CLIENTS SECS | latency PORT COUNT | "
                     "idle PORT N HOLD\n",
                     argv[0]);
        return 2;
    }
    return 0;
}

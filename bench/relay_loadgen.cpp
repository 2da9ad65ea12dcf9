// Load generator of the relay benchmark; talks to relay_bench_server, directly or through a relay.
// Prints one line of key=value figures.
//
//   relay_loadgen bulk-up   PORT CONNS SECONDS   client -> sink, bytes per second in all and of the
//                                                slowest and the fastest connection
//   relay_loadgen bulk-down PORT CONNS SECONDS   source -> client, the same
//   relay_loadgen duplex    PORT E|D SECONDS     one connection sending and receiving at once
//   relay_loadgen connrate  PORT CONCURRENCY SECONDS   connect, 1-byte echo, close
//   relay_loadgen latency   PORT COUNT           1-byte ping-pong round trips
//   relay_loadgen idle      PORT N HOLD_SECONDS  N echoing connections held open
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBuf = 256 * 1024;

int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

bool SendAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool RecvAll(int fd, char* p, size_t n) {
    while (n > 0) {
        ssize_t k = recv(fd, p, n, 0);
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

int Bulk(int port, bool up, int conns, double seconds) {
    std::atomic<uint64_t> total{0};
    std::atomic<int> failed{0};
    auto start = Clock::now();
    auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<uint64_t> each(static_cast<size_t>(conns));
    std::vector<std::thread> threads;
    for (int i = 0; i < conns; ++i)
        threads.emplace_back([&, i] {
            int fd = Connect(port);
            char mode = up ? 'S' : 'R';
            if (fd < 0 || !SendAll(fd, &mode, 1)) {
                ++failed;
                return;
            }
            std::vector<char> buf(kBuf, 'x');
            uint64_t moved = 0;
            while (Clock::now() < end) {
                ssize_t n =
                    up ? send(fd, buf.data(), buf.size(), MSG_NOSIGNAL) : recv(fd, buf.data(), buf.size(), 0);
                if (n <= 0) {
                    ++failed;
                    break;
                }
                moved += static_cast<uint64_t>(n);
            }
            total += moved;
            each[static_cast<size_t>(i)] = moved;
            close(fd);
        });
    for (auto& t : threads)
        t.join();
    double took = Seconds(Clock::now() - start);
    auto [slowest, fastest] = std::minmax_element(each.begin(), each.end());
    printf("value=%.1f unit=MB/s failed=%d slowest=%.2f fastest=%.2f\n", total / took / 1e6, failed.load(),
           *slowest / took / 1e6, *fastest / took / 1e6);
    return failed ? 1 : 0;
}

int Duplex(int port, char mode, double seconds) {
    int fd = Connect(port);
    if (fd < 0 || !SendAll(fd, &mode, 1))
        return 1;
    auto start = Clock::now();
    auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::atomic<uint64_t> sent{0};
    std::thread sender([&] {
        std::vector<char> buf(kBuf, 'y');
        while (Clock::now() < end) {
            ssize_t n = send(fd, buf.data(), buf.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<uint64_t>(n);
        }
        shutdown(fd, SHUT_WR);
    });
    std::vector<char> buf(kBuf);
    uint64_t received = 0;
    bool stalled = false;
    for (;;) {
        ssize_t n = recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0) {
            stalled = n < 0 && Clock::now() < end + std::chrono::seconds(1);
            break;
        }
        if (Clock::now() < end)
            received += static_cast<uint64_t>(n);
    }
    sender.join();
    close(fd);
    printf("value=%.1f unit=MB/s sent=%.1f received=%.1f stalled=%d\n", (sent + received) / seconds / 1e6,
           sent / seconds / 1e6, received / seconds / 1e6, stalled ? 1 : 0);
    return stalled ? 1 : 0;
}

int ConnRate(int port, int concurrency, double seconds) {
    std::atomic<uint64_t> done{0};
    std::atomic<uint64_t> failed{0};
    auto start = Clock::now();
    auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int i = 0; i < concurrency; ++i)
        threads.emplace_back([&] {
            char c;
            while (Clock::now() < end) {
                int fd = Connect(port);
                bool ok = fd >= 0 && SendAll(fd, "Ex", 2) && RecvAll(fd, &c, 1);
                if (fd >= 0)
                    close(fd);
                ++(ok ? done : failed);
            }
        });
    for (auto& t : threads)
        t.join();
    double took = Seconds(Clock::now() - start);
    printf("value=%.0f unit=conn/s failed=%lu\n", done / took, static_cast<unsigned long>(failed.load()));
    return 0;
}

int Latency(int port, int count) {
    int fd = Connect(port);
    if (fd < 0 || !SendAll(fd, "E", 1))
        return 1;
    std::vector<double> us;
    us.reserve(static_cast<size_t>(count));
    char c = 'p';
    for (int i = -1000; i < count; ++i) {
        auto t0 = Clock::now();
        if (!SendAll(fd, &c, 1) || !RecvAll(fd, &c, 1))
            return 1;
        if (i >= 0)
            us.push_back(Seconds(Clock::now() - t0) * 1e6);
    }
    close(fd);
    std::sort(us.begin(), us.end());
    printf("p50=%.1f p99=%.1f unit=us\n", us[us.size() / 2], us[us.size() * 99 / 100]);
    return 0;
}

int Idle(int port, int n, double hold) {
    std::vector<int> fds;
    char c = 'i';
    for (int i = 0; i < n; ++i) {
        int fd = Connect(port);
        if (fd < 0 || !SendAll(fd, "Ei", 2) || !RecvAll(fd, &c, 1)) {
            fprintf(stderr, "connection %d failed\n", i);
            return 1;
        }
        fds.push_back(fd);
    }
    printf("ready\n");
    fflush(stdout);
    std::this_thread::sleep_for(std::chrono::duration<double>(hold));
    int echoing = 0;
    for (int fd : fds)
        echoing += SendAll(fd, "k", 1) && RecvAll(fd, &c, 1) && c == 'k';
    for (int fd : fds)
        close(fd);
    printf("echoing=%d total=%d\n", echoing, n);
    return echoing == n ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    rlimit r{65536, 65536};
    setrlimit(RLIMIT_NOFILE, &r);
    if (argc < 4) {
        fprintf(stderr, "usage: see the comment at the top of relay_loadgen.cpp\n");
        return 2;
    }
    std::string cmd = argv[1];
    int port = atoi(argv[2]);
    if (cmd == "bulk-up" || cmd == "bulk-down")
        return argc == 5 ? Bulk(port, cmd == "bulk-up", atoi(argv[3]), atof(argv[4])) : 2;
    if (cmd == "duplex")
        return argc == 5 ? Duplex(port, argv[3][0], atof(argv[4])) : 2;
    if (cmd == "connrate")
        return argc == 5 ? ConnRate(port, atoi(argv[3]), atof(argv[4])) : 2;
    if (cmd == "latency")
        return Latency(port, atoi(argv[3]));
    if (cmd == "idle")
        return argc == 5 ? Idle(port, atoi(argv[3]), atof(argv[4])) : 2;
    return 2;
}

// Destination for the relay benchmark: one port, and the first byte of each connection picks what the
// server does with it. 'S' sink (reads and discards), 'R' source (sends without end), 'E' echo,
// 'D' echo every byte twice. Several threads, each with its own epoll loop on a SO_REUSEPORT socket.
//
//   relay_bench_server PORT [THREADS]
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kBuf = 256 * 1024;

struct Conn {
    int fd;
    char mode = 0;
    std::string out; // echo bytes waiting for room
    size_t outAt = 0;
};

int Listen(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4096) != 0) {
        perror("bench server: listen");
        exit(1);
    }
    return fd;
}

void Close(int ep, Conn* c) {
    epoll_ctl(ep, EPOLL_CTL_DEL, c->fd, nullptr);
    close(c->fd);
    delete c;
}

void Arm(int ep, Conn* c, uint32_t events) {
    epoll_event e{events, {.ptr = c}};
    epoll_ctl(ep, EPOLL_CTL_MOD, c->fd, &e);
}

// Returns false when the connection is over.
bool FlushOut(int ep, Conn* c) {
    while (c->outAt < c->out.size()) {
        ssize_t n = send(c->fd, c->out.data() + c->outAt, c->out.size() - c->outAt, MSG_NOSIGNAL);
        if (n > 0) {
            c->outAt += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            Arm(ep, c, EPOLLOUT); // stop reading until the reply has gone
            return true;
        }
        return false;
    }
    c->out.clear();
    c->outAt = 0;
    Arm(ep, c, EPOLLIN);
    return true;
}

bool OnEvent(int ep, Conn* c, uint32_t events, std::vector<char>& buf, const std::vector<char>& pattern) {
    if (c->mode == 'R') {
        if (events & (EPOLLERR | EPOLLHUP | EPOLLRDHUP))
            return false;
        for (;;) {
            ssize_t n = send(c->fd, pattern.data(), pattern.size(), MSG_NOSIGNAL);
            if (n < 0)
                return errno == EAGAIN;
        }
    }
    if (!c->out.empty())
        return FlushOut(ep, c);
    for (int rounds = 0; rounds < 16; ++rounds) {
        if (c->mode == 0) {
            char m;
            ssize_t n = recv(c->fd, &m, 1, 0);
            if (n <= 0)
                return n < 0 && errno == EAGAIN;
            c->mode = m;
            if (m == 'R') {
                Arm(ep, c, EPOLLOUT | EPOLLRDHUP);
                return true;
            }
            continue;
        }
        if (c->mode == 'S') {
            ssize_t n = recv(c->fd, nullptr, 1 << 30, MSG_TRUNC);
            if (n <= 0)
                return n < 0 && errno == EAGAIN;
            continue;
        }
        ssize_t n = recv(c->fd, buf.data(), kBuf / 2, 0);
        if (n <= 0)
            return n < 0 && errno == EAGAIN;
        if (c->mode == 'D') {
            c->out.resize(static_cast<size_t>(n) * 2);
            for (ssize_t i = 0; i < n; ++i)
                c->out[2 * i] = c->out[2 * i + 1] = buf[i];
        } else {
            c->out.assign(buf.data(), static_cast<size_t>(n));
        }
        if (!FlushOut(ep, c))
            return false;
        if (!c->out.empty())
            return true;
    }
    return true;
}

void Loop(int port) {
    int lfd = Listen(port);
    int ep = epoll_create1(EPOLL_CLOEXEC);
    epoll_event le{EPOLLIN, {.ptr = nullptr}};
    epoll_ctl(ep, EPOLL_CTL_ADD, lfd, &le);
    std::vector<char> buf(kBuf), pattern(kBuf, 'x');
    epoll_event events[256];
    for (;;) {
        int n = epoll_wait(ep, events, 256, -1);
        for (int i = 0; i < n; ++i) {
            auto* c = static_cast<Conn*>(events[i].data.ptr);
            if (!c) {
                int fd;
                while ((fd = accept4(lfd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0) {
                    auto* nc = new Conn;
                    nc->fd = fd;
                    epoll_event e{EPOLLIN, {.ptr = nc}};
                    epoll_ctl(ep, EPOLL_CTL_ADD, fd, &e);
                }
                continue;
            }
            if (!OnEvent(ep, c, events[i].events, buf, pattern))
                Close(ep, c);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s PORT [THREADS]\n", argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    rlimit r{65536, 65536};
    if (setrlimit(RLIMIT_NOFILE, &r) != 0 && getrlimit(RLIMIT_NOFILE, &r) == 0) {
        r.rlim_cur = r.rlim_max;
        setrlimit(RLIMIT_NOFILE, &r);
    }
    int port = atoi(argv[1]);
    int threads = argc > 2 ? atoi(argv[2]) : 2;
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i)
        pool.emplace_back(Loop, port);
    Loop(port);
}

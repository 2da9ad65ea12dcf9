#include "support/tcp_probe.h"

#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace qvtest {

using Clock = std::chrono::steady_clock;

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::size_t CountEntries(const char* dir) {
    std::size_t n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
    }
    return n;
}

} // namespace

void Fd::Reset() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int ListenLoopback(int backlog) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, backlog) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    return fd;
}

int ListenLoopback6(int backlog) {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, backlog) != 0)
        throw std::runtime_error("cannot listen on ::1");
    return fd;
}

int LocalPort(int fd) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    // The port sits at the same place in both families' addresses.
    return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

namespace {
std::mutex heldMutex;
std::vector<int> held; // bound, never listening, open for the rest of the process
} // namespace

int FreePort() {
    // The binding is kept, so no other socket of this machine is given the port meanwhile; with
    // SO_REUSEADDR on both, the listener that takes the port may still bind and listen there.
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int one = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("cannot bind port 0");
    const int port = LocalPort(fd.Get());
    std::lock_guard lock(heldMutex);
    held.push_back(fd.Release());
    return port;
}

int ConnectLoopback(int port, std::chrono::milliseconds timeout) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in addr = Loopback(port);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS)
            return -1;
        pollfd p{fd.Get(), POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1 ||
            ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0)
            return -1;
    }
    int flags = ::fcntl(fd.Get(), F_GETFL);
    ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd.Release();
}

int ConnectLoopbackFrom(const char* source, int port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to = Loopback(port);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        return -1;
    return fd.Release();
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string ReadToEnd(int fd, std::chrono::milliseconds timeout, bool* eof) {
    auto deadline = Clock::now() + timeout;
    std::string got;
    char buf[65536];
    if (eof)
        *eof = false;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, MsLeft(deadline)) != 1)
            return got;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            // A reset also ends the stream as far as the client can tell.
            if (eof)
                *eof = n == 0 || errno == ECONNRESET;
            return got;
        }
        got.append(buf, static_cast<std::size_t>(n));
    }
}

std::string ReadExactly(int fd, std::size_t n, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    std::string got;
    while (got.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, MsLeft(deadline)) != 1)
            break;
        std::string chunk(n - got.size(), '\0');
        ssize_t r = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (r <= 0)
            break;
        got.append(chunk.data(), static_cast<std::size_t>(r));
    }
    return got;
}

bool WaitUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!cond()) {
        if (Clock::now() >= deadline)
            return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::size_t CountOpenFds() {
    std::lock_guard lock(heldMutex);
    return CountEntries("/proc/self/fd") - 1 - held.size(); // the directory being read, the held ports
}

std::size_t CountThreads() {
    return CountEntries("/proc/self/task");
}

RefusingPort::RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr = Loopback(0);
    if (::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("cannot bind a refusing port");
    port_ = LocalPort(fd_.Get());
}

StuckPort::StuckPort() : listener_(ListenLoopback(0)), port_(LocalPort(listener_.Get())) {
    // Fill the accept queue until a handshake goes unanswered.
    for (int i = 0; i < 64; ++i) {
        Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        sockaddr_in addr = Loopback(port_);
        if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno != EINPROGRESS)
            throw std::runtime_error("cannot fill the accept queue");
        pollfd p{fd.Get(), POLLOUT, 0};
        bool hung = ::poll(&p, 1, 200) == 0;
        if (hung)
            return; // the hanging one goes; its successors hang the same way
        fillers_.push_back(std::move(fd));
    }
    throw std::runtime_error("the accept queue never filled");
}

} // namespace qvtest

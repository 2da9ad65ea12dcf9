#include "support/echo_server.h"

#include "support/tcp_probe.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qvtest {

std::string IdentReply(const std::string& query) {
    return query + " : USERID : UNIX : quorvane\r\n";
}

LocalServer::LocalServer(ServerMode mode, std::string greeting, bool ipv6)
    : mode_(mode), greeting_(std::move(greeting)) {
    listenFd_ = ipv6 ? ListenLoopback6(128) : ListenLoopback(128);
    port_ = LocalPort(listenFd_);
    acceptThread_ = std::thread(&LocalServer::AcceptLoop, this);
}

LocalServer::~LocalServer() {
    stop_ = true;
    acceptThread_.join();
    {
        std::lock_guard lock(mutex_);
        for (int fd : open_)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& t : threads_)
        t.join();
    ::close(listenFd_);
}

void LocalServer::AcceptLoop() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++accepted_;
        std::lock_guard lock(mutex_);
        open_.push_back(fd);
        threads_.emplace_back(&LocalServer::Serve, this, fd);
    }
}

bool LocalServer::Echo(int fd, int times) {
    std::vector<char> in(65536), out;
    for (;;) {
        ssize_t n = ::recv(fd, in.data(), in.size(), 0);
        if (n <= 0)
            return n == 0;
        bytesReceived_ += static_cast<std::uint64_t>(n);
        if (times == 1) {
            if (!SendAll(fd, std::string_view(in.data(), static_cast<std::size_t>(n))))
                return false;
            continue;
        }
        out.resize(static_cast<std::size_t>(n) * 2);
        for (ssize_t i = 0; i < n; ++i)
            out[2 * i] = out[2 * i + 1] = in[i];
        if (!SendAll(fd, std::string_view(out.data(), out.size())))
            return false;
    }
}

void LocalServer::Serve(int fd) {
    switch (mode_) {
    case ServerMode::Echo:
        Echo(fd, 1);
        break;
    case ServerMode::EchoTwice:
        Echo(fd, 2);
        break;
    case ServerMode::Greeting:
        if (SendAll(fd, greeting_))
            Echo(fd, 1);
        break;
    case ServerMode::ReplyAfterEof: {
        std::string request;
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
            bytesReceived_ += static_cast<std::uint64_t>(n);
            request.append(buf, static_cast<std::size_t>(n));
        }
        if (n == 0)
            SendAll(fd, "reply:" + request);
        break;
    }
    case ServerMode::Ident: {
        std::string query;
        char c = 0;
        while (::recv(fd, &c, 1, 0) == 1) {
            if (c != '\n') {
                query += c;
                continue;
            }
            if (!query.empty() && query.back() == '\r')
                query.pop_back();
            if (!SendAll(fd, IdentReply(query)))
                break;
            query.clear();
        }
        break;
    }
    case ServerMode::HalfCloseAfterGreeting:
        if (!SendAll(fd, greeting_) || ::shutdown(fd, SHUT_WR) != 0)
            break;
        [[fallthrough]];
    case ServerMode::Sink:
    case ServerMode::Hold: {
        char buf[65536];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            bytesReceived_ += static_cast<std::uint64_t>(n);
        while (mode_ == ServerMode::Hold && !stop_)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        break;
    }
    case ServerMode::ResetAfterGreeting: {
        SendAll(fd, greeting_);
        linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        break;
    }
    }
    {
        std::lock_guard lock(mutex_);
        open_.erase(std::find(open_.begin(), open_.end(), fd));
        ::close(fd);
    }
    ++closed_;
}

} // namespace qvtest

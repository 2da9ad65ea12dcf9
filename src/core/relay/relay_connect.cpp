#include "core/relay/relay_connect.h"

#include "core/relay/relay_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv {

struct TRelayResolvers::Lookup {
    int pipe[2] = {-1, -1}; // the helper writes one byte to pipe[1] when the answer is ready
    bool found = false;
    in_addr addr{};
    std::atomic<bool> ready{false}; // set after found and addr
    ~Lookup() {
        CloseFd(pipe[0]);
        CloseFd(pipe[1]);
    }
};

TRelayResolvers::~TRelayResolvers() {
    for (Entry& e : threads_)
        e.thread.join();
}

std::shared_ptr<TRelayResolvers::Lookup> TRelayResolvers::Start(const std::string& host) {
    auto lookup = std::make_shared<Lookup>();
    if (::pipe2(lookup->pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex_);
    try {
        threads_.reserve(threads_.size() + 1);
        threads_.push_back({std::thread([lookup, done, host] {
                                addrinfo hints{};
                                hints.ai_family = AF_INET;
                                hints.ai_socktype = SOCK_STREAM;
                                addrinfo* result = nullptr;
                                if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) == 0 && result) {
                                    lookup->addr = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
                                    lookup->found = true;
                                }
                                if (result)
                                    ::freeaddrinfo(result);
                                lookup->ready.store(true, std::memory_order_release);
                                char one = 1;
                                [[maybe_unused]] ssize_t n = ::write(lookup->pipe[1], &one, 1);
                                done->store(true, std::memory_order_release);
                            }),
                            done});
    } catch (const std::exception&) {
        return nullptr;
    }
    return lookup;
}

void TRelayResolvers::Reap() {
    std::vector<std::thread> finished;
    {
        std::lock_guard lock(mutex_);
        for (auto it = threads_.begin(); it != threads_.end();) {
            if (it->done->load(std::memory_order_acquire)) {
                finished.push_back(std::move(it->thread));
                it = threads_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (std::thread& t : finished)
        t.join();
}

namespace {

// Waits until fd reports one of events, or abortFd hangs up. True when fd is ready.
bool WaitReady(int fd, short events, int abortFd, const std::atomic<bool>& abort) {
    for (;;) {
        if (abort.load(std::memory_order_acquire))
            return false;
        pollfd p[2] = {{fd, events, 0}, {abortFd, 0, 0}};
        int r = ::poll(p, 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (p[1].revents != 0 || abort.load(std::memory_order_acquire))
            return false;
        if (p[0].revents != 0)
            return true;
    }
}

bool Resolve(const std::string& host, in_addr& addr, int abortFd, const std::atomic<bool>& abort,
             TRelayResolvers& resolvers) {
    if (::inet_aton(host.c_str(), &addr) != 0)
        return true;
    auto lookup = resolvers.Start(host);
    if (!lookup || !WaitReady(lookup->pipe[0], POLLIN, abortFd, abort))
        return false;
    if (!lookup->ready.load(std::memory_order_acquire))
        return false;
    addr = lookup->addr;
    return lookup->found;
}

} // namespace

int ConnectOutgoing(const std::string& host, int port, int abortFd, const std::atomic<bool>& abort,
                    TRelayResolvers& resolvers) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (port < 0 || port > 65535 || !Resolve(host, to.sin_addr, abortFd, abort, resolvers))
        return -1;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
        return fd;
    if (errno != EINPROGRESS && errno != EINTR) {
        CloseFd(fd);
        return -1;
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (!WaitReady(fd, POLLOUT, abortFd, abort) ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
        CloseFd(fd);
        return -1;
    }
    return fd;
}

} // namespace qv

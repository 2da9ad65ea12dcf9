#include "core/relay/relay_connect.h"

#include "core/relay/relay_socket.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace qv {

std::vector<RelayAddress> SystemResolve(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    std::vector<RelayAddress> found;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) == 0) {
        for (addrinfo* a = result; a; a = a->ai_next) {
            if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
                a->ai_addrlen > sizeof(sockaddr_storage))
                continue;
            RelayAddress address;
            std::memcpy(&address.addr, a->ai_addr, a->ai_addrlen);
            address.length = a->ai_addrlen;
            found.push_back(address);
        }
    }
    if (result)
        ::freeaddrinfo(result);
    return found;
}

struct TRelayResolvers::Lookup {
    std::string host;
    int pipe[2] = {-1, -1}; // the lookup thread writes one byte to pipe[1] when the answer is ready
    std::vector<RelayAddress> addresses;
    std::atomic<bool> ready{false}; // set after addresses
    ~Lookup() {
        CloseFd(pipe[0]);
        CloseFd(pipe[1]);
    }
};

struct TRelayResolvers::Shared {
    std::mutex mutex;
    std::condition_variable queued;
    std::deque<std::weak_ptr<Lookup>> waiting; // a lookup whose link has gone is skipped
    RelayResolver resolver = SystemResolve;
    int threads = 0;
    int idle = 0;
    bool closed = false;
};

TRelayResolvers::TRelayResolvers() : shared_(std::make_shared<Shared>()) {}

TRelayResolvers::~TRelayResolvers() {
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
    shared_->waiting.clear();
    shared_->queued.notify_all();
}

void TRelayResolvers::SetResolver(RelayResolver resolver) {
    std::lock_guard lock(shared_->mutex);
    shared_->resolver = std::move(resolver);
}

std::shared_ptr<TRelayResolvers::Lookup> TRelayResolvers::Start(const std::string& host) {
    auto lookup = std::make_shared<Lookup>();
    lookup->host = host;
    if (::pipe2(lookup->pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    std::lock_guard lock(shared_->mutex);
    shared_->waiting.push_back(lookup);
    if (shared_->idle > 0) {
        shared_->queued.notify_one();
        return lookup;
    }
    if (shared_->threads < kMaxThreads) {
        try {
            std::thread(&TRelayResolvers::Work, shared_).detach();
            ++shared_->threads;
        } catch (const std::exception&) {
            if (shared_->threads == 0) {
                shared_->waiting.pop_back();
                return nullptr;
            }
        }
    }
    return lookup;
}

void TRelayResolvers::Work(std::shared_ptr<Shared> shared) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
        ++shared->idle;
        const bool got = shared->queued.wait_for(lock, kIdleTime,
                                                 [&] { return shared->closed || !shared->waiting.empty(); });
        --shared->idle;
        if (!got || shared->waiting.empty())
            break;
        std::shared_ptr<Lookup> lookup = shared->waiting.front().lock();
        shared->waiting.pop_front();
        if (!lookup)
            continue;
        RelayResolver resolve = shared->resolver;
        lock.unlock();
        try {
            lookup->addresses = resolve(lookup->host);
        } catch (...) {
            lookup->addresses.clear();
        }
        lookup->ready.store(true, std::memory_order_release);
        char one = 1;
        [[maybe_unused]] ssize_t n = ::write(lookup->pipe[1], &one, 1);
        lookup.reset();
        lock.lock();
    }
    --shared->threads;
}

bool ParseNumericHost(const std::string& host, RelayAddress& address) {
    address = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.addr);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        address.length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.addr);
    if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        address.length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

namespace {

using Clock = std::chrono::steady_clock;

// Watches the client while the outgoing connection is being made. It has gone when its socket hangs up
// or fails, or when it ends its stream without having sent anything: a client that sent a request and
// then ended its side is waiting for the reply, and is kept.
class ClientWatch {
public:
    ClientWatch(int fd, const std::atomic<bool>& abort) : fd_(fd), abort_(abort) {}

    // Waits until fd reports one of events; false when the client goes, abort is set or the time (none
    // when negative) runs out.
    bool Wait(int fd, short events, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (abort_.load(std::memory_order_acquire))
                return false;
            int waitMs = -1;
            if (timeout.count() >= 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                if (left.count() <= 0)
                    return false;
                waitMs = static_cast<int>(left.count()) + 1;
            }
            pollfd p[2] = {{fd, events, 0}, {fd_, watchEnd_ ? short(POLLRDHUP) : short(0), 0}};
            int r = ::poll(p, 2, waitMs);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (abort_.load(std::memory_order_acquire) || (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)))
                return false;
            if (p[1].revents & POLLRDHUP) {
                char byte;
                if (::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
                    return false;
                watchEnd_ = false; // a request, then the end: its input waits for the relay
            }
            if (p[0].revents != 0)
                return true;
        }
    }

private:
    int fd_;
    const std::atomic<bool>& abort_;
    bool watchEnd_ = true;
};

int ConnectTo(RelayAddress address, int port, ClientWatch& client, std::chrono::milliseconds timeout) {
    const int family = address.addr.ss_family;
    if (family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&address.addr)->sin_port = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6*>(&address.addr)->sin6_port = htons(static_cast<uint16_t>(port));
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address.addr), address.length) == 0)
        return fd;
    int error = 0;
    socklen_t len = sizeof error;
    if ((errno != EINPROGRESS && errno != EINTR) || !client.Wait(fd, POLLOUT, timeout) ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
        CloseFd(fd);
        return -1;
    }
    return fd;
}

// A name whose last label is a number, decimal or "0x" hexadecimal, is no host name (no top-level domain
// is one): it is a numeric form that the strict parse refused, such as "127.1" or "0x7f000001", which the
// system's resolver would still take for an address. It is not looked up.
bool LooksNumeric(const std::string& host) {
    const std::size_t dot = host.find_last_of('.');
    std::string_view label(host);
    label.remove_prefix(dot == std::string::npos ? 0 : dot + 1);
    const bool hex = label.size() > 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X');
    if (hex)
        label.remove_prefix(2);
    if (label.empty())
        return false;
    for (char c : label)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
                  : std::isdigit(static_cast<unsigned char>(c))))
            return false;
    return true;
}

} // namespace

int ConnectOutgoing(const std::string& host, int port, int clientFd, const std::atomic<bool>& abort,
                    TRelayResolvers& resolvers, std::chrono::milliseconds timeout) {
    if (port < 0 || port > 65535 || host.empty())
        return -1;
    ClientWatch client(clientFd, abort);
    std::vector<RelayAddress> addresses(1);
    if (!ParseNumericHost(host, addresses[0])) {
        if (LooksNumeric(host))
            return -1;
        // The lookup may take as long as the name server likes; the link waits for it only as long as
        // its client and the listener do.
        auto lookup = resolvers.Start(host);
        if (!lookup || !client.Wait(lookup->pipe[0], POLLIN, std::chrono::milliseconds(-1)) ||
            !lookup->ready.load(std::memory_order_acquire))
            return -1;
        addresses = lookup->addresses;
    }
    for (const RelayAddress& address : addresses) {
        if (abort.load(std::memory_order_acquire))
            return -1;
        int fd = ConnectTo(address, port, client, timeout);
        if (fd >= 0)
            return fd;
    }
    return -1;
}

} // namespace qv

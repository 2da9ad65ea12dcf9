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

TRelayResolvers::Lookup::~Lookup() {
    CloseFd(pipe[0]);
    CloseFd(pipe[1]);
}

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
    // An idle thread counts until it wakes: lookups queued before then need threads of their own, or a
    // burst of them would run one after another on the single idle thread.
    if (shared_->idle >= static_cast<int>(shared_->waiting.size())) {
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

int BeginConnect(RelayAddress address, int port, bool& connected) {
    connected = false;
    const int family = address.addr.ss_family;
    if (family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&address.addr)->sin_port = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6*>(&address.addr)->sin6_port = htons(static_cast<uint16_t>(port));
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (!WatchForDeadPeer(fd)) {
        CloseFd(fd);
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address.addr), address.length) == 0) {
        connected = true;
        return fd;
    }
    if (errno != EINPROGRESS && errno != EINTR)
        CloseFd(fd);
    return fd;
}

int ConnectError(int fd) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        return errno;
    return error;
}

// A name whose last label is a number, decimal or "0x" hexadecimal, is no host name: no top-level domain
// is one.
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

} // namespace qv

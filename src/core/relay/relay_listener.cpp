#include "core/relay/relay_listener.h"

#include "core/relay/relay_own_sockets.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qv {

TRelayListener::TRelayListener() = default;

TRelayListener::~TRelayListener() {
    try {
        SetActive(false);
    } catch (...) {
        // A wait step that failed: the listener has stopped all the same.
    }
}

void TRelayListener::SetMappedHost(std::string host) {
    std::lock_guard lock(hostMutex_);
    mappedHost_ = std::move(host);
}

std::string TRelayListener::MappedHost() const {
    std::lock_guard lock(hostMutex_);
    return mappedHost_;
}

void TRelayListener::SetListenOn(RelayListenOn on) {
    std::lock_guard lock(hostMutex_);
    listenOn_ = std::move(on);
}

void TRelayListener::SetFallbacks(std::vector<Destination> fallbacks) {
    std::lock_guard lock(hostMutex_);
    fallbacks_ = std::move(fallbacks);
}

namespace {
std::string DestinationKey(const TRelayListener::Destination& d) {
    return d.host + "\n" + std::to_string(d.port);
}

// One more in `count` unless `limit` (> 0) are there already. Threads taking a place at the same moment
// cannot pass the limit together.
bool TakePlace(std::atomic<int>& count, int limit) {
    int held = count.load(std::memory_order_acquire);
    do {
        if (limit > 0 && held >= limit)
            return false;
    } while (!count.compare_exchange_weak(held, held + 1, std::memory_order_acq_rel));
    return true;
}
} // namespace

std::vector<TRelayListener::Destination> TRelayListener::DestinationsNow() {
    std::lock_guard lock(hostMutex_);
    std::vector<Destination> destinations{{mappedHost_, mappedPort_.load()}};
    destinations.insert(destinations.end(), fallbacks_.begin(), fallbacks_.end());
    if (fallbacks_.empty())
        return destinations;
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(failedDestinations_,
                  [now](const auto& f) { return now - f.second >= kFailedDestinationSkip; });
    // Those that failed lately go last, in their order.
    std::stable_partition(destinations.begin(), destinations.end(), [this](const Destination& d) {
        return std::none_of(failedDestinations_.begin(), failedDestinations_.end(),
                            [key = DestinationKey(d)](const auto& f) { return f.first == key; });
    });
    return destinations;
}

void TRelayListener::NoteFailedDestination(const Destination& destination) {
    std::lock_guard lock(hostMutex_);
    if (fallbacks_.empty())
        return;
    const std::string key = DestinationKey(destination);
    std::erase_if(failedDestinations_, [&key](const auto& f) { return f.first == key; });
    failedDestinations_.emplace_back(key, std::chrono::steady_clock::now());
}

void TRelayListener::SetActive(bool active) {
    if (!active) {
        TRelayListener* self = this;
        StopTogether({&self, 1});
        return;
    }
    std::lock_guard lock(controlMutex_);
    if (!active_.load())
        Start();
}

void TRelayListener::StopTogether(std::span<TRelayListener* const> listeners) {
    // Every listener is told first, so their links close at the same time and one wait covers them all;
    // each listener is still waited for no longer than its own TerminateWaitTime.
    std::vector<std::unique_lock<std::mutex>> locks;
    std::vector<TRelayListener*> stopping;
    for (TRelayListener* listener : listeners) {
        locks.emplace_back(listener->controlMutex_);
        if (!listener->active_.load())
            continue;
        listener->BeginStop();
        stopping.push_back(listener);
    }
    std::exception_ptr failure;
    std::vector<int> stepsLeft;
    for (TRelayListener* listener : stopping)
        stepsLeft.push_back(
            std::max(1, listener->terminateWaitTime_.load() / static_cast<int>(kStopStep.count())));
    // The lists are first looked at after the first step, so a stop always takes one step.
    for (bool waiting = !stopping.empty(); waiting;) {
        try {
            if (!failure && stopping.front()->StopWaitStep)
                stopping.front()->StopWaitStep(kStopStep);
            else
                std::this_thread::sleep_for(kStopStep);
        } catch (...) {
            // The stop goes on regardless: a half-done stop would leave a listener marked active.
            failure = std::current_exception();
        }
        waiting = false;
        for (std::size_t i = 0; i < stopping.size(); ++i) {
            if (stepsLeft[i] > 0 && (--stepsLeft[i] == 0 || stopping[i]->LinksEmpty()))
                stepsLeft[i] = 0;
            waiting = waiting || stepsLeft[i] > 0;
        }
    }
    for (TRelayListener* listener : stopping)
        listener->FinishStop();
    if (failure)
        std::rethrow_exception(failure);
}

void TRelayListener::Start() {
    JoinFinishedLoops();
    // The endpoint's port sticks once a start has succeeded; until then DefaultPort is taken afresh.
    int port = endpointPort_.load();
    RelayListenOn on;
    {
        std::lock_guard lock(hostMutex_);
        on = listenOn_;
    }
    const RelayProtocol protocol = protocol_.load();
    const int wanted = port != 0 ? port : defaultPort_.load();
    const unsigned processors = std::thread::hardware_concurrency();
    const unsigned count = std::clamp(processors, 1u, kLoops);
    std::vector<int> fds;
    if (protocol != RelayProtocol::Udp)
        fds = OpenListeningSockets(wanted, on);
    // A UDP socket per loop on each address, sharing the port: the system sends each client to one of
    // them, always the same, and that loop runs the client's session.
    std::vector<int> udp;
    if (protocol != RelayProtocol::Tcp) {
        try {
            udp = OpenDatagramSockets(wanted, on, static_cast<int>(count));
        } catch (const RelayError& error) {
            for (int fd : fds)
                ::close(fd);
            throw RelayError(error.what(), error.Code(), true);
        }
    }
    const int bound = BoundPort(fds.empty() ? udp.front() : fds.front());
    udpLeads_.clear();
    for (std::size_t j = 0; j < udp.size(); j += count)
        udpLeads_.push_back(udp[j]);
    std::vector<RelayAddress> endpoints;
    for (int fd : fds.empty() ? udpLeads_ : fds) {
        RelayAddress endpoint;
        endpoint.length = sizeof endpoint.addr;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&endpoint.addr), &endpoint.length) == 0)
            endpoints.push_back(endpoint);
    }
    std::shared_ptr<const std::vector<int>> shared(new std::vector<int>(fds), [](const std::vector<int>* p) {
        for (int fd : *p)
            ::close(fd);
        delete p;
    });
    udpSocketsOpen_.fetch_add(static_cast<int>(udp.size()), std::memory_order_acq_rel);
    for (unsigned i = 0; i < count; ++i) {
        std::vector<int> own;
        for (std::size_t j = i; j < udp.size(); j += count)
            own.push_back(udp[j]);
        auto loop = std::make_unique<TRelayLoop>(*this, shared, own);
        if (!loop->Start()) {
            int error = errno;
            loop.reset(); // which closes its own UDP sockets
            // Those of the loops not started close too: the system spreads the clients over the others.
            for (std::size_t j = 0; j < udp.size(); ++j)
                if (j % count > i) {
                    ::close(udp[j]);
                    udpSocketsOpen_.fetch_sub(1, std::memory_order_acq_rel);
                }
            if (!loops_.empty())
                break; // fewer threads than hoped for still relay
            throw RelayError(SocketErrorText(error), error);
        }
        std::lock_guard loops(loopsMutex_);
        loops_.push_back(std::move(loop));
    }
    listenFds_ = fds;
    if (port == 0)
        endpointPort_.store(bound);
    {
        std::lock_guard lock(hostMutex_);
        startedOn_ = on;
        startedProtocol_ = protocol;
        startedEndpoints_ = std::move(endpoints);
    }
    noted_ = bound;
    TRelayOwnSocket::NoteListening(noted_, 1);
    active_.store(true);
}

void TRelayListener::ForgetPort() {
    std::lock_guard lock(controlMutex_);
    if (!active_.load())
        endpointPort_.store(0);
}

bool TRelayListener::IsOwnEndpoint(const RelayAddress& address, int port, bool udp) const {
    if (port != endpointPort_.load(std::memory_order_relaxed))
        return false; // the usual case, told without a lock
    std::lock_guard lock(hostMutex_);
    if (startedProtocol_ != RelayProtocol::Both && (startedProtocol_ == RelayProtocol::Udp) != udp)
        return false;
    return std::any_of(startedEndpoints_.begin(), startedEndpoints_.end(),
                       [&address](const RelayAddress& bound) { return ReachesBound(address, bound); });
}

bool TRelayListener::ListenChangeWaits() const {
    if (!active_.load())
        return false;
    std::lock_guard lock(hostMutex_);
    return !(listenOn_ == startedOn_) || protocol_.load() != startedProtocol_;
}

void TRelayListener::BeginStop() {
    // New connections are refused from here on, even while a loop is still busy in a handler; the socket
    // itself is closed by the last loop to let go of it.
    for (int fd : listenFds_)
        ::shutdown(fd, SHUT_RDWR);
    listenFds_.clear();
    for (auto& loop : loops_)
        loop->Stop();
}

void TRelayListener::FinishStop() {
    // Loops whose links outlive the wait end by themselves; they are joined later.
    {
        std::lock_guard loops(loopsMutex_);
        for (auto& loop : loops_)
            ending_.push_back(std::move(loop));
        loops_.clear();
    }
    JoinFinishedLoops();
    TRelayOwnSocket::NoteListening(noted_, -1);
    noted_ = 0;
    active_.store(false);
}

void TRelayListener::JoinFinishedLoops() {
    std::lock_guard loops(loopsMutex_);
    std::erase_if(ending_, [](const std::unique_ptr<TRelayLoop>& loop) { return loop->Finished(); });
}

void TRelayListener::SetAccessRules(std::shared_ptr<const RelayAccessRules> rules) {
    {
        std::lock_guard lock(rulesMutex_);
        rules_ = std::move(rules);
        rulesGeneration_.fetch_add(1, std::memory_order_release);
    }
    // Each loop ends the links and sessions the new rules refuse.
    std::lock_guard loops(loopsMutex_);
    for (const auto* group : {&loops_, &ending_})
        for (const auto& loop : *group)
            loop->Wake();
}

void TRelayListener::SetBandwidth(std::uint64_t upBytesPerSecond, std::uint64_t downBytesPerSecond) {
    {
        std::lock_guard lock(bandwidthMutex_);
        bandwidth_[0].SetRate(upBytesPerSecond);
        bandwidth_[1].SetRate(downBytesPerSecond);
        bandwidthGeneration_.fetch_add(1, std::memory_order_release);
    }
    // Links waiting for a grant booked at the old rate must not sleep on.
    WakeLoops();
}

void TRelayListener::WakeLoops() {
    std::lock_guard loops(loopsMutex_);
    for (const auto* group : {&loops_, &ending_})
        for (const auto& loop : *group)
            loop->Wake();
}

const RelayAccessRules* TRelayListener::AccessRules(std::shared_ptr<const RelayAccessRules>& cache,
                                                    std::uint64_t& seen) {
    const std::uint64_t generation = rulesGeneration_.load(std::memory_order_acquire);
    if (generation != seen) {
        std::lock_guard lock(rulesMutex_);
        cache = rules_;
        seen = generation;
    }
    return cache.get();
}

bool TRelayListener::ReserveLink(int limit) {
    return TakePlace(linkCount_, limit);
}

bool TRelayListener::ReserveUdpSession() {
    return TakePlace(udpSessions_, UdpSessionCeiling());
}

std::vector<RelayLinkFigures> TRelayListener::Snapshot() {
    std::vector<RelayLinkFigures> figures;
    std::lock_guard loops(loopsMutex_);
    for (const auto* group : {&loops_, &ending_})
        for (const auto& loop : *group)
            loop->Snapshot(figures);
    return figures;
}

void TRelayListener::CloseLink(std::uint64_t id) {
    std::lock_guard loops(loopsMutex_);
    for (const auto* group : {&loops_, &ending_})
        for (const auto& loop : *group)
            loop->RequestClose(id);
}

} // namespace qv

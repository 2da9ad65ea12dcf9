#include "core/relay/relay_loop.h"

#include "core/relay/relay_link.h"
#include "core/relay/relay_listener.h"
#include "core/relay/relay_pump.h"
#include "core/relay/relay_socket.h"
#include "core/relay/relay_udp.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <new>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv {
namespace {

// Tags of the epoll entries that are no link's: the one role no link has; above it, 0 for the wake-up
// and 1 + i for listening socket i.
constexpr std::uint64_t kOwnRole = TRelayLoop::kOwnRole;
constexpr std::uint64_t kWakeTag = kOwnRole;
constexpr std::uint64_t ListenTag(std::size_t i) {
    return kOwnRole | (i + 1) << TRelayLinkTable::kRoleBits;
}

} // namespace

TRelayLoop::TRelayLoop(TRelayListener& listener, std::shared_ptr<const std::vector<int>> listenFds,
                       std::vector<int> udpFds)
    : listener_(listener), listenFds_(std::move(listenFds)), udpFds_(std::move(udpFds)) {}

TRelayLoop::~TRelayLoop() {
    if (thread_.joinable())
        thread_.join();
    udp_.reset();
    for (int& fd : udpFds_) {
        CloseFd(fd);
        listener_.udpSocketsOpen_.fetch_sub(1, std::memory_order_acq_rel);
    }
    CloseFd(epoll_);
    CloseFd(wake_);
    CloseFd(parked_);
}

bool TRelayLoop::Start() {
    scratch_.reset(new (std::nothrow) char[kRelayChunk]);
    if (!scratch_) {
        errno = ENOMEM;
        return false;
    }
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event wake{EPOLLIN, {.u64 = kWakeTag}};
    if (epoll_ < 0 || wake_ < 0 || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &wake) != 0 || !WatchListening())
        return false;
    if (!udpFds_.empty()) {
        udp_.reset(new (std::nothrow) TRelayUdp(*this, udpFds_));
        if (udp_)
            udpFds_.clear(); // udp_ closes them now
        if (!udp_ || !udp_->Start()) {
            if (!udp_)
                errno = ENOMEM;
            UnwatchListening();
            return false;
        }
    }
    accepting_ = true;
    // Relay threads take no signals: SIGINT and friends belong to the main thread, and the SIGPIPE a
    // splice into a closed peer raises stays blocked here instead of ending the process.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        thread_ = std::thread(&TRelayLoop::Run, this);
    } catch (const std::system_error& e) {
        errno = e.code().value();
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return thread_.joinable();
}

void TRelayLoop::Stop() {
    stop_.store(true, std::memory_order_release);
    Wake();
}

bool TRelayLoop::Watch(int fd, std::uint32_t events, TRelayLink& link, Role role) {
    epoll_event e{events, {.u64 = links_.Tag(link.slot_, role)}};
    return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) == 0;
}

bool TRelayLoop::WatchTag(int fd, std::uint32_t events, std::uint64_t tag) {
    epoll_event e{events, {.u64 = tag}};
    return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) == 0;
}

void TRelayLoop::Unwatch(int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
}

bool TRelayLoop::WatchListening() {
    for (std::size_t i = 0; i < listenFds_->size(); ++i) {
        // Several loops share each listening socket: a connection wakes one of them, not all.
        epoll_event listen{EPOLLIN | EPOLLEXCLUSIVE, {.u64 = ListenTag(i)}};
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, (*listenFds_)[i], &listen) != 0) {
            for (std::size_t j = 0; j < i; ++j)
                Unwatch((*listenFds_)[j]);
            return false;
        }
    }
    return true;
}

void TRelayLoop::UnwatchListening() {
    for (int fd : *listenFds_)
        Unwatch(fd);
}

void TRelayLoop::SetDeadline(TRelayLink& link, Clock::time_point when) {
    ClearDeadline(link);
    deadlines_.emplace(when, &link);
    link.deadline_ = when;
    link.hasDeadline_ = true;
}

void TRelayLoop::ClearDeadline(TRelayLink& link) {
    if (link.hasDeadline_)
        deadlines_.erase({link.deadline_, &link});
    link.hasDeadline_ = false;
}

void TRelayLoop::RunAgain(TRelayLink& link) {
    if (!link.queuedAgain_) {
        link.queuedAgain_ = true;
        again_.push_back(&link);
    }
}

void TRelayLoop::Remove(TRelayLink& link) {
    ClearDeadline(link);
    {
        std::lock_guard lock(figuresMutex_);
        links_.Remove(link.slot_);
    }
    removed_.push_back(&link);
    listener_.linkCount_.fetch_sub(1, std::memory_order_acq_rel);
}

void TRelayLoop::SetDestination(TRelayLink& link, RelayAddress address, int port, bool reached) {
    if (address.addr.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&address.addr)->sin_port = htons(static_cast<std::uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6*>(&address.addr)->sin6_port = htons(static_cast<std::uint16_t>(port));
    std::lock_guard lock(figuresMutex_);
    link.tried_ = address;
    if (reached)
        link.destination_ = address;
}

void TRelayLoop::Snapshot(std::vector<RelayLinkFigures>& into) const {
    std::lock_guard lock(figuresMutex_);
    into.reserve(into.size() + links_.Count());
    links_.ForEach([&into](const TRelayLink& link) { into.push_back(link.Figures()); });
    if (udp_)
        udp_->Snapshot(into);
}

void TRelayLoop::RequestClose(std::uint64_t id) {
    {
        std::lock_guard lock(closeMutex_);
        closeRequests_.push_back(id);
    }
    Wake();
}

void TRelayLoop::Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
}

void TRelayLoop::RefreshLimits() {
    const std::uint64_t generation = listener_.bandwidthGeneration_.load(std::memory_order_acquire);
    if (generation == limitsSeen_)
        return;
    limitsSeen_ = generation;
    for (int i = 0; i < 2; ++i)
        limits_[i] = listener_.bandwidth_[i].Rate() != 0 ? &listener_.bandwidth_[i] : nullptr;
    links_.ForEach([this](TRelayLink& link) { link.Limit(limits_[0], limits_[1]); });
}

void TRelayLoop::CloseRequested() {
    std::vector<std::uint64_t> ids;
    {
        std::lock_guard lock(closeMutex_);
        ids.swap(closeRequests_);
    }
    for (std::uint64_t id : ids)
        links_.ForEach([id](TRelayLink& link) {
            if (link.Id() == id && !link.Done())
                link.Abort(RelayEndReason::ClosedByUser);
        });
    if (udp_)
        for (std::uint64_t id : ids)
            udp_->Close(id);
}

void TRelayLoop::EndRefused() {
    const std::uint64_t generation = listener_.rulesGeneration_.load(std::memory_order_acquire);
    if (generation == rulesChecked_)
        return;
    rulesChecked_ = generation;
    const RelayAccessRules* rules = listener_.AccessRules(rules_, rulesSeen_);
    if (!rules)
        return;
    links_.ForEach([rules](TRelayLink& link) {
        if (!link.Done() && !rules->Allows(link.client_.addr))
            link.Abort(RelayEndReason::DeniedByRule);
    });
    if (udp_)
        udp_->EndRefused(*rules);
}

void TRelayLoop::Run() {
    while (!(stopping_ && links_.Count() == 0))
        Turn();
    // The loop's share of the listening socket goes now: the last loop to leave closes it.
    listenFds_.reset();
    finished_.store(true, std::memory_order_release);
}

int TRelayLoop::WaitMs() const {
    if (!again_.empty())
        return 0;
    Clock::time_point next = Clock::time_point::max();
    if (!deadlines_.empty())
        next = deadlines_.begin()->first;
    if (!accepting_ && !stopping_)
        next = std::min(next, acceptPausedUntil_);
    if (udp_)
        next = std::min(next, udp_->NextDeadline());
    if (next == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

void TRelayLoop::Turn() {
    epoll_event events[kMaxEvents];
    int n = ::epoll_wait(epoll_, events, kMaxEvents, WaitMs());
    RefreshLimits();
    for (int i = 0; i < n; ++i) {
        const std::uintptr_t tag = events[i].data.u64;
        if (tag == kWakeTag) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t r = ::read(wake_, &count, sizeof count);
            if (stop_.load(std::memory_order_acquire) && !stopping_)
                EndEverything();
            CloseRequested();
            EndRefused();
        } else if (TRelayLinkTable::Role(tag) == kOwnRole && TRelayUdp::Owns(tag)) {
            if (udp_)
                udp_->OnEvent(tag, events[i].events);
        } else if (TRelayLinkTable::Role(tag) == kOwnRole) {
            const std::size_t index = (tag >> TRelayLinkTable::kRoleBits) - 1;
            if (!stopping_ && index < listenFds_->size())
                Accept((*listenFds_)[index]);
        } else if (TRelayLink* link = links_.Find(tag)) {
            link->OnEvent(static_cast<Role>(TRelayLinkTable::Role(tag)), events[i].events);
        }
    }
    const Clock::time_point now = Clock::now();
    while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
        TRelayLink* link = deadlines_.begin()->second;
        deadlines_.erase(deadlines_.begin());
        link->hasDeadline_ = false;
        link->OnDeadline(now);
    }
    if (!accepting_ && !stopping_ && now >= acceptPausedUntil_)
        ResumeAccepting(now);
    if (udp_)
        udp_->OnTime(now);
    running_.swap(again_);
    for (TRelayLink* link : running_) {
        link->queuedAgain_ = false;
        if (!link->Done())
            link->Resume();
    }
    running_.clear();
    for (TRelayLink* link : removed_)
        delete link;
    removed_.clear();
    if (udp_)
        udp_->Collect();
}

// One connection per wake-up: the listening socket reports again at once while more wait, and meanwhile
// the other relay threads take their share. Taking a whole burst here left the other threads idle (eight
// bulk links arriving together all landed on one thread, and moved a third less).
void TRelayLoop::Accept(int listenFd) {
    int fd;
    RelayAddress client;
    do {
        client.length = sizeof client.addr;
        fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&client.addr), &client.length,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && (errno == EINTR || errno == ECONNABORTED));
    if (fd < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors or memory, the queued connection stays readable: give links time to end
        // rather than spinning on it. Any other failure (a stop has shut the socket) the same way.
        ceiling_.Refresh(); // the limit may have been lowered
        PauseAccepting(Clock::now() + std::chrono::milliseconds(TRelayListener::kExhaustedWaitMs));
        return;
    }
    if (!ceiling_.Allows(fd, kLinkDescriptors)) {
        // The connection waits, as it would in the queue, until descriptors below the ceiling are free.
        parked_ = fd;
        parkedClient_ = client;
        PauseAccepting(Clock::now() + std::chrono::milliseconds(TRelayListener::kExhaustedWaitMs));
        return;
    }
    if (Admit(fd, client))
        StartLink(fd, client);
}

bool TRelayLoop::Admit(int fd, const RelayAddress& client) {
    const RelayAccessRules* rules = listener_.AccessRules(rules_, rulesSeen_);
    RelayEndReason refused = RelayEndReason::None;
    if (rules && !rules->Allows(client.addr))
        refused = RelayEndReason::DeniedByRule;
    else if (!listener_.ReserveLink(rules ? rules->maxConnections : 0))
        refused = RelayEndReason::LimitReached;
    if (refused == RelayEndReason::None)
        return true;
    ::close(fd);
    if (listener_.OnRefused) {
        RelayLinkFigures figures;
        figures.id = listener_.NextLinkId();
        figures.client = client;
        figures.state = RelayLinkState::Ending;
        figures.reason = refused;
        figures.started = std::chrono::system_clock::now();
        figures.startedSteady = Clock::now();
        try {
            listener_.OnRefused(figures);
        } catch (...) {
            // The client is gone either way.
        }
    }
    return false;
}

void TRelayLoop::StartLink(int fd, const RelayAddress& client) {
    TRelayLink* link = new (std::nothrow) TRelayLink(*this, fd, listener_.NextLinkId(), client);
    if (!link) {
        ::close(fd);
        listener_.linkCount_.fetch_sub(1, std::memory_order_acq_rel);
        return;
    }
    bool added = false;
    {
        std::lock_guard lock(figuresMutex_);
        added = links_.Add(*link, link->slot_);
    }
    if (!added) {
        delete link; // which closes the socket
        listener_.linkCount_.fetch_sub(1, std::memory_order_acq_rel);
        return;
    }
    link->Begin();
}

void TRelayLoop::PauseAccepting(Clock::time_point until) {
    UnwatchListening();
    accepting_ = false;
    acceptPausedUntil_ = until;
}

void TRelayLoop::ResumeAccepting(Clock::time_point now) {
    const auto pause = std::chrono::milliseconds(TRelayListener::kExhaustedWaitMs);
    if (parked_ >= 0) {
        // A copy takes the lowest free number: once that fits, the parked connection moves there.
        int low = ::fcntl(parked_, F_DUPFD_CLOEXEC, 0);
        if (low < 0 || !ceiling_.Allows(low, kLinkDescriptors)) {
            CloseFd(low);
            acceptPausedUntil_ = now + pause;
            return;
        }
        CloseFd(parked_);
        // Judged by the address it was accepted from: a client that has reset it meanwhile leaves a
        // socket that no longer knows its peer.
        if (Admit(low, parkedClient_))
            StartLink(low, parkedClient_);
    }
    accepting_ = WatchListening();
    if (!accepting_)
        acceptPausedUntil_ = now + pause;
}

void TRelayLoop::EndEverything() {
    stopping_ = true;
    CloseFd(parked_);
    if (accepting_)
        UnwatchListening();
    accepting_ = false;
    links_.ForEach([](TRelayLink& link) { link.Abort(); });
    if (udp_)
        udp_->EndAll(RelayEndReason::Stopped);
}

} // namespace qv

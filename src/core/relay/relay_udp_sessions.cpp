// The life of a UDP session: refused or admitted, its destination looked up and connected (the
// fallbacks in turn), its idle time, its end and its figures.
#include "core/relay/relay_udp.h"
#include "core/relay/relay_udp_session.h"

#include "core/relay/relay_listener.h"
#include "core/relay/relay_loop.h"
#include "core/relay/relay_socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <unistd.h>

namespace qv {

using namespace udp_detail;

void TRelayUdp::Refuse(const Peer& peer, socklen_t length, RelayEndReason reason, Clock::time_point now) {
    NoteDropped(nullptr);
    if (!listener_.sources_.Report(TRelaySources::AddressOf(reinterpret_cast<const sockaddr*>(&peer)), now)) {
        unreportedDue_ = std::min(unreportedDue_, listener_.sources_.UnreportedDue());
        return;
    }
    if (!listener_.OnRefused)
        return;
    RelayLinkFigures figures;
    figures.id = listener_.NextLinkId();
    figures.protocol = RelayProtocol::Udp;
    std::memcpy(&figures.client.addr, &peer, std::min<std::size_t>(length, sizeof peer));
    figures.client.length = length;
    figures.state = RelayLinkState::Ending;
    figures.reason = reason;
    figures.started = std::chrono::system_clock::now();
    figures.startedSteady = now;
    try {
        listener_.OnRefused(figures);
    } catch (...) {
        // The datagram is dropped either way.
    }
}

void TRelayUdp::Resolve(Session& s) {
    Trying& t = *s.trying;
    if (t.destinations.empty())
        t.destinations = listener_.DestinationsNow();
    const RelayDestination& destination = t.destinations[t.nextDestination++];
    t.port = destination.port;
    t.nextAddress = 0;
    t.lastError = 0;
    s.state.store(RelayLinkState::Resolving, std::memory_order_relaxed);
    if (t.port < 1 || t.port > 65535 || destination.host.empty())
        return Finish(s, RelayEndReason::Failed);
    t.addresses.resize(1);
    if (ParseNumericHost(destination.host, t.addresses[0]))
        return ConnectNext(s);
    t.addresses.clear();
    if (LooksNumeric(destination.host))
        return DestinationFailed(s, 0);
    t.lookup = listener_.resolvers_.Start(destination.host);
    if (!t.lookup || !loop_.AllowsSession(t.lookup->pipe[1]) ||
        !loop_.WatchTag(t.lookup->pipe[0], EPOLLIN, SessionTag(s, true))) {
        t.lookup.reset();
        return Finish(s, RelayEndReason::Failed);
    }
}

void TRelayUdp::OnLookupDone(Session& s) {
    Trying& t = *s.trying;
    loop_.Unwatch(t.lookup->pipe[0]);
    if (t.lookup->ready.load(std::memory_order_acquire))
        t.addresses = t.lookup->addresses;
    t.lookup.reset();
    if (t.addresses.empty())
        return DestinationFailed(s, 0);
    ConnectNext(s);
}

void TRelayUdp::ConnectNext(Session& s) {
    Trying& t = *s.trying;
    while (t.nextAddress < t.addresses.size()) {
        RelayAddress address = t.addresses[t.nextAddress++];
        const auto port = htons(static_cast<std::uint16_t>(t.port));
        if (address.addr.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in*>(&address.addr)->sin_port = port;
        else
            reinterpret_cast<sockaddr_in6*>(&address.addr)->sin6_port = port;
        if (listener_.IsOwnEndpoint(address, t.port, true)) {
            t.lastError = ECONNREFUSED;
            continue;
        }
        const TRelayOwnSocket::Connecting connecting(address, t.port);
        int fd = ::socket(address.addr.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0 || !loop_.AllowsSession(fd)) {
            CloseFd(fd);
            return Finish(s, RelayEndReason::Failed); // no descriptor: another address would fare no better
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.addr), address.length) != 0) {
            t.lastError = errno;
            CloseFd(fd);
            continue;
        }
        RelayAddress client;
        std::memcpy(&client.addr, &s.client, sizeof s.client);
        client.length = s.clientLength;
        if (const int itself = s.own.Take(fd, address, t.port, true, client, listener_); itself != 0) {
            t.lastError = itself;
            CloseFd(fd);
            continue;
        }
        if (!loop_.WatchTag(fd, EPOLLIN, SessionTag(s, false))) {
            CloseFd(fd);
            s.own.Release();
            return Finish(s, RelayEndReason::Failed);
        }
        s.fd = fd;
        {
            std::lock_guard lock(mutex_);
            std::memcpy(&s.destination, &address.addr, std::min<std::size_t>(address.length, sizeof(Peer)));
            s.destinationLength = address.length;
            s.triedLength = address.length;
        }
        s.state.store(RelayLinkState::Relaying, std::memory_order_relaxed);
        // What the client sent before this destination was known (or to one that refused) goes now,
        // counted as relayed or dropped only the first time it goes.
        std::vector<std::string> kept;
        kept.swap(t.kept);
        t.keptBytes = 0;
        const std::size_t sentBefore = kept.size() - t.unsent;
        t.unsent = 0;
        const bool keep = t.NextChoice();
        for (std::size_t i = 0; i < kept.size(); ++i) {
            const std::string& datagram = kept[i];
            const bool first = i >= sentBefore;
            if (::send(fd, datagram.data(), datagram.size(), MSG_DONTWAIT) < 0) {
                if (first)
                    NoteDropped(&s);
                continue;
            }
            if (first) {
                Add(s.bytesUp, datagram.size());
                Add(s.datagramsUp, 1);
            }
            if (keep)
                Keep(s, datagram.data(), datagram.size());
        }
        if (!keep)
            s.trying.reset(); // nowhere else to go: nothing more to keep
        return;
    }
    DestinationFailed(s, 0);
}

void TRelayUdp::DestinationFailed(Session& s, int error) {
    if (!s.trying) {
        // It had answered, or had nowhere else to go. One never answered never reached its destination,
        // as a TCP link whose connect failed.
        if (!s.answered) {
            std::lock_guard lock(mutex_);
            s.destinationLength = 0;
        }
        return Finish(s, ReasonOfConnectError(error));
    }
    Trying& t = *s.trying;
    if (error != 0)
        t.lastError = error;
    if (s.fd >= 0) {
        loop_.Unwatch(s.fd);
        CloseFd(s.fd);
        s.own.Release();
        std::lock_guard lock(mutex_);
        s.destinationLength = 0;
    }
    if (t.nextAddress < t.addresses.size())
        return ConnectNext(s);
    const RelayEndReason reason = t.lastError == 0 && t.addresses.empty() ? RelayEndReason::NameNotFound
                                                                          : ReasonOfConnectError(t.lastError);
    listener_.NoteFailedDestination(t.destinations[t.nextDestination - 1]);
    if (t.nextDestination < t.destinations.size())
        return Resolve(s);
    Finish(s, reason);
}

TRelayUdp::Chain& TRelayUdp::ChainOf(const Session& s) {
    return s.answered ? answered_ : unanswered_;
}

void TRelayUdp::Touch(Session& s, Clock::time_point now) {
    s.last = now;
    Chain& chain = ChainOf(s);
    if (chain.newest == &s)
        return;
    Unlink(s);
    s.older = chain.newest;
    if (chain.newest)
        chain.newest->newer = &s;
    chain.newest = &s;
    if (!chain.oldest)
        chain.oldest = &s;
}

void TRelayUdp::Unlink(Session& s) {
    Chain& chain = ChainOf(s);
    if (s.older)
        s.older->newer = s.newer;
    else if (chain.oldest == &s)
        chain.oldest = s.newer;
    if (s.newer)
        s.newer->older = s.older;
    else if (chain.newest == &s)
        chain.newest = s.older;
    s.older = s.newer = nullptr;
}

namespace {
// A destination that has not answered yet most likely never will: its session goes sooner.
std::chrono::milliseconds UnansweredIdle(std::chrono::milliseconds idle) {
    return idle / 6;
}
} // namespace

TRelayUdp::Clock::time_point TRelayUdp::NextDeadline() const {
    const auto idle = listener_.UdpIdleTimeout();
    Clock::time_point next = unreportedDue_;
    if (answered_.oldest)
        next = std::min(next, answered_.oldest->last + idle);
    if (unanswered_.oldest) {
        next = std::min(next, unanswered_.oldest->last + UnansweredIdle(idle));
        if (listener_.udpRoomWanted_.load(std::memory_order_relaxed))
            next = std::min(next, unanswered_.oldest->last + kRoomAfter);
    }
    return next;
}

void TRelayUdp::OnTime(Clock::time_point now) {
    const auto idle = listener_.UdpIdleTimeout();
    while (answered_.oldest && now - answered_.oldest->last >= idle)
        Finish(*answered_.oldest, RelayEndReason::IdleTimeout);
    while (unanswered_.oldest && now - unanswered_.oldest->last >= UnansweredIdle(idle))
        Finish(*unanswered_.oldest, RelayEndReason::IdleTimeout);
    // One thread alone answers a call for room; once there is room anyway, the call is over (its
    // deadline must not come round again and again).
    if (listener_.udpRoomWanted_.load(std::memory_order_relaxed) && RoomGiver(now)) {
        const bool full =
            listener_.udpSessions_.load(std::memory_order_relaxed) >= listener_.UdpSessionCeiling();
        if (listener_.udpRoomWanted_.exchange(false, std::memory_order_relaxed) && full)
            MakeRoom(now);
    }
    if (now < unreportedDue_)
        return;
    // Another thread may have told them already: it then has nothing to tell.
    unreportedDue_ = Clock::time_point::max();
    const std::uint64_t unreported = listener_.sources_.TakeUnreported();
    try {
        if (unreported > 0 && listener_.OnMoreRefused)
            listener_.OnMoreRefused(unreported);
    } catch (...) {
        // They stay counted in the datagrams dropped.
    }
}

TRelayUdp::Session* TRelayUdp::RoomGiver(Clock::time_point now) const {
    // One given a moment to be answered: a burst of new clients does not push each other out.
    return unanswered_.oldest && now - unanswered_.oldest->last >= kRoomAfter ? unanswered_.oldest : nullptr;
}

bool TRelayUdp::MakeRoom(Clock::time_point now) {
    Session* s = RoomGiver(now);
    if (s)
        Finish(*s, RelayEndReason::LimitReached);
    return s != nullptr;
}

void TRelayUdp::Finish(Session& s, RelayEndReason reason) {
    if (s.done)
        return;
    s.done = true;
    s.reason.store(reason, std::memory_order_relaxed);
    s.state.store(RelayLinkState::Ending, std::memory_order_relaxed);
    if (s.trying && s.trying->lookup) {
        // The lookup finishes on its own; its answer goes nowhere.
        loop_.Unwatch(s.trying->lookup->pipe[0]);
        s.trying->lookup.reset();
    }
    try {
        if (listener_.OnDisconnect)
            listener_.OnDisconnect(Figures(s));
    } catch (...) {
        // Whatever the handler does, the session ends.
    }
    Unlink(s);
    {
        std::lock_guard lock(mutex_);
        sessions_.erase(KeyOf(s.listen, s.client));
    }
    if (s.fd >= 0) {
        loop_.Unwatch(s.fd); // events already fetched for it this turn find it done
        CloseFd(s.fd);
    }
    s.own.Release();
    s.trying.reset();
    dead_.push_back(&s);
    listener_.sources_.Give(TRelaySources::AddressOf(reinterpret_cast<const sockaddr*>(&s.client)));
    listener_.udpSessions_.fetch_sub(1, std::memory_order_relaxed);
    listener_.linkCount_.fetch_sub(1, std::memory_order_acq_rel);
}

void TRelayUdp::Collect() {
    for (Session* s : dead_)
        delete s;
    dead_.clear();
}

void TRelayUdp::EndAll(RelayEndReason reason) {
    CloseListening();
    for (Chain* chain : {&unanswered_, &answered_})
        while (chain->oldest)
            Finish(*chain->oldest, reason);
}

void TRelayUdp::Close(std::uint64_t id) {
    for (const Chain* chain : {&unanswered_, &answered_})
        for (Session* s = chain->oldest; s; s = s->newer)
            if (s->id == id)
                return Finish(*s, RelayEndReason::ClosedByUser);
}

void TRelayUdp::EndRefused(const RelayAccessRules& rules) {
    for (Chain* chain : {&unanswered_, &answered_})
        for (Session *s = chain->oldest, *next = nullptr; s; s = next) {
            next = s->newer; // Finish takes s out of the list
            sockaddr_storage client{};
            std::memcpy(&client, &s->client, sizeof s->client);
            if (!rules.Allows(client))
                Finish(*s, RelayEndReason::DeniedByRule);
        }
}

RelayLinkFigures TRelayUdp::Figures(const Session& s) const {
    RelayLinkFigures f;
    f.id = s.id;
    f.protocol = RelayProtocol::Udp;
    std::memcpy(&f.client.addr, &s.client, sizeof s.client);
    f.client.length = s.clientLength;
    std::memcpy(&f.destination.addr, &s.destination, sizeof s.destination);
    f.destination.length = s.destinationLength;
    std::memcpy(&f.tried.addr, &s.destination, sizeof s.destination);
    f.tried.length = s.triedLength;
    f.state = s.state.load(std::memory_order_relaxed);
    f.reason = s.reason.load(std::memory_order_relaxed);
    f.bytesUp = s.bytesUp.load(std::memory_order_relaxed);
    f.bytesDown = s.bytesDown.load(std::memory_order_relaxed);
    f.datagramsUp = s.datagramsUp.load(std::memory_order_relaxed);
    f.datagramsDown = s.datagramsDown.load(std::memory_order_relaxed);
    f.datagramsDropped = s.dropped.load(std::memory_order_relaxed);
    f.started = s.started;
    f.startedSteady = s.startedSteady;
    return f;
}

void TRelayUdp::Snapshot(std::vector<RelayLinkFigures>& into) const {
    std::lock_guard lock(mutex_);
    into.reserve(into.size() + sessions_.size());
    for (const auto& [key, s] : sessions_)
        into.push_back(Figures(*s));
}

} // namespace qv

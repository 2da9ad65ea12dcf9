#include "core/relay/relay_udp.h"

#include "core/relay/relay_listener.h"
#include "core/relay/relay_loop.h"
#include "core/relay/relay_socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <sys/epoll.h>
#include <unistd.h>

namespace qv {

namespace {
// Counters written by the loop's thread alone and read by snapshots.
void Add(std::atomic<std::uint64_t>& counter, std::uint64_t n) {
    counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
}

RelayEndReason ReasonOf(int error) {
    switch (error) {
    case ECONNREFUSED:
        return RelayEndReason::Refused;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
        return RelayEndReason::Unreachable;
    default:
        return RelayEndReason::Failed;
    }
}

// Errors a connected datagram socket reports from the ICMP answers to what it sent: the destination is
// not there.
bool DestinationGone(int error) {
    return error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH || error == EHOSTDOWN ||
           error == ENETDOWN;
}
} // namespace

// Until its destination has answered, a session keeps what it needs to try the next one.
struct TRelayUdp::Trying {
    std::vector<RelayDestination> destinations;
    std::size_t nextDestination = 0;
    std::vector<RelayAddress> addresses;
    std::size_t nextAddress = 0;
    int port = 0;
    int lastError = 0;
    std::shared_ptr<TRelayResolvers::Lookup> lookup;
    std::vector<std::string> kept; // datagrams sent and not answered, for the next destination
    std::size_t keptBytes = 0;

    bool NextChoice() const {
        return nextAddress < addresses.size() || nextDestination < destinations.size();
    }
};

// One client address of one listening socket. Small while idle: no buffer of its own.
struct TRelayUdp::Session {
    std::uint64_t id = 0;
    int fd = -1;
    std::uint8_t listen = 0;
    bool done = false;
    bool answered = false; // the destination has sent something back
    socklen_t clientLength = 0;
    Peer client{};
    Local local;
    Peer destination{}; // under the mutex; length 0 until connected
    socklen_t destinationLength = 0;
    std::atomic<RelayLinkState> state{RelayLinkState::Resolving};
    std::atomic<RelayEndReason> reason{RelayEndReason::None};
    std::atomic<std::uint64_t> bytesUp{0};
    std::atomic<std::uint64_t> bytesDown{0};
    std::atomic<std::uint64_t> datagramsUp{0};
    std::atomic<std::uint64_t> datagramsDown{0};
    std::atomic<std::uint64_t> dropped{0};
    std::chrono::system_clock::time_point started = std::chrono::system_clock::now();
    Clock::time_point startedSteady;
    Clock::time_point last;
    Session* older = nullptr;
    Session* newer = nullptr;
    std::unique_ptr<Trying> trying;
};

std::size_t TRelayUdp::KeyHash::operator()(const Key& key) const {
    std::uint64_t a = 0, b = 0;
    std::memcpy(&a, key.address.data(), 8);
    std::memcpy(&b, key.address.data() + 8, 8);
    const std::uint64_t c = std::uint64_t{key.port} << 16 | std::uint64_t{key.family} << 8 | key.listen;
    return std::hash<std::uint64_t>()((a * 0x9E3779B97F4A7C15ull ^ b) * 0xC2B2AE3D27D4EB4Full ^ c);
}

TRelayUdp::Key TRelayUdp::KeyOf(std::size_t listen, const Peer& peer) {
    Key key{};
    key.listen = static_cast<std::uint8_t>(listen);
    key.family = static_cast<std::uint8_t>(peer.v4.sin_family);
    if (peer.v4.sin_family == AF_INET) {
        std::memcpy(key.address.data(), &peer.v4.sin_addr, 4);
        key.port = peer.v4.sin_port;
    } else {
        std::memcpy(key.address.data(), &peer.v6.sin6_addr, 16);
        key.port = peer.v6.sin6_port;
    }
    return key;
}

std::uint64_t TRelayUdp::SessionTag(const Session& s, bool lookup) {
    // A session's address fits below bit 60 and its lowest bits are clear (it is aligned).
    return TRelayLoop::kOwnRole | kUdpBit | (lookup ? kLookupBit : 0) | reinterpret_cast<std::uintptr_t>(&s);
}

TRelayUdp::TRelayUdp(TRelayLoop& loop, const std::vector<int>& fds)
    : loop_(loop), listener_(loop.Listener()), fds_(fds) {}

TRelayUdp::~TRelayUdp() {
    Collect();
    for (auto& [key, s] : sessions_) {
        CloseFd(s->fd);
        delete s;
    }
    CloseListening();
}

bool TRelayUdp::Start() {
    buffers_.reset(new (std::nothrow) char[kBufferSize * kBatch]);
    if (!buffers_) {
        errno = ENOMEM;
        return false;
    }
    for (std::size_t i = 0; i < fds_.size(); ++i) {
        Peer bound{};
        socklen_t length = sizeof bound;
        ::getsockname(fds_[i], reinterpret_cast<sockaddr*>(&bound), &length);
        const bool wildcard = bound.v4.sin_family == AF_INET ? bound.v4.sin_addr.s_addr == htonl(INADDR_ANY)
                                                             : IN6_IS_ADDR_UNSPECIFIED(&bound.v6.sin6_addr);
        const int one = 1;
        // A dual-stack socket tells the address of its IPv4 clients through the IPv4 option.
        if (wildcard && (::setsockopt(fds_[i], IPPROTO_IP, IP_PKTINFO, &one, sizeof one) != 0 ||
                         (bound.v4.sin_family == AF_INET6 &&
                          ::setsockopt(fds_[i], IPPROTO_IPV6, IPV6_RECVPKTINFO, &one, sizeof one) != 0)))
            return false;
        wildcard_.push_back(wildcard);
        if (!loop_.WatchTag(fds_[i], EPOLLIN, TRelayLoop::kOwnRole | kUdpBit | kListenBit | i << 2))
            return false;
    }
    return true;
}

TRelayUdp::Local TRelayUdp::LocalOf(const msghdr& h) {
    Local local;
    for (const cmsghdr* c = CMSG_FIRSTHDR(&h); c;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&h), const_cast<cmsghdr*>(c))) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            local.family = AF_INET;
            std::memcpy(local.address.data(), &info.ipi_addr, 4);
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            local.family = AF_INET6;
            local.ifindex = info.ipi6_ifindex;
            std::memcpy(local.address.data(), &info.ipi6_addr, 16);
        }
    }
    return local;
}

std::size_t TRelayUdp::ReplyControl(const Local& local, char* control) {
    std::memset(control, 0, kControlSize);
    auto* c = reinterpret_cast<cmsghdr*>(control);
    if (local.family == AF_INET) {
        // The source address only: the routing still picks the way out.
        in_pktinfo info{};
        std::memcpy(&info.ipi_spec_dst, local.address.data(), 4);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        return CMSG_SPACE(sizeof info);
    }
    in6_pktinfo info{};
    std::memcpy(&info.ipi6_addr, local.address.data(), 16);
    info.ipi6_ifindex = local.ifindex; // which link a link-local address is on
    c->cmsg_level = IPPROTO_IPV6;
    c->cmsg_type = IPV6_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof info);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    return CMSG_SPACE(sizeof info);
}

void TRelayUdp::CloseListening() {
    if (closed_)
        return;
    closed_ = true;
    for (int& fd : fds_) {
        loop_.Unwatch(fd);
        CloseFd(fd);
        listener_.udpSocketsOpen_.fetch_sub(1, std::memory_order_acq_rel);
    }
}

void TRelayUdp::OnEvent(std::uint64_t tag, std::uint32_t events) {
    if (tag & kListenBit) {
        const std::size_t listen = (tag & 0xffffffffu) >> 2;
        if (!closed_ && listen < fds_.size())
            FromClients(listen);
        return;
    }
    auto* s = reinterpret_cast<Session*>(tag & ~(kUdpBit | kLookupBit | TRelayLoop::kOwnRole));
    if (s->done)
        return; // ended earlier in this turn, freed at its end
    if (tag & kLookupBit)
        return OnLookupDone(*s);
    if (events & (EPOLLIN | EPOLLERR))
        FromDestination(*s);
}

void TRelayUdp::NoteDropped(Session* s, std::uint64_t n) {
    if (s)
        Add(s->dropped, n);
    else
        listener_.udpDropped_.fetch_add(n, std::memory_order_relaxed);
}

void TRelayUdp::FromClients(std::size_t listen) {
    const int fd = fds_[listen];
    for (int round = 0; round < kRoundsPerTurn; ++round) {
        for (int i = 0; i < kBatch; ++i) {
            iovs_[i] = {buffers_.get() + kBufferSize * static_cast<std::size_t>(i), kBufferSize};
            messages_[i].msg_hdr = {};
            messages_[i].msg_hdr.msg_name = &peers_[i];
            messages_[i].msg_hdr.msg_namelen = sizeof(Peer);
            messages_[i].msg_hdr.msg_iov = &iovs_[i];
            messages_[i].msg_hdr.msg_iovlen = 1;
            if (wildcard_[listen]) {
                messages_[i].msg_hdr.msg_control = controls_[i].data();
                messages_[i].msg_hdr.msg_controllen = kControlSize;
            }
        }
        const int n = ::recvmmsg(fd, messages_.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (n <= 0)
            return;
        const Clock::time_point now = Clock::now();
        // Runs of datagrams from one client go out in one call.
        Session* run = nullptr;
        int first = 0;
        for (int i = 0; i <= n; ++i) {
            Session* s = nullptr;
            if (i < n) {
                const msghdr& h = messages_[i].msg_hdr;
                auto found = sessions_.find(KeyOf(listen, peers_[i]));
                s = found != sessions_.end() ? found->second
                                             : Admit(listen, peers_[i], h.msg_namelen, LocalOf(h), now);
                if (s && (h.msg_flags & MSG_TRUNC)) {
                    NoteDropped(s); // larger than any datagram can be: never passed on cut
                    s = nullptr;
                }
                if (s)
                    Touch(*s, now);
            }
            if (s != run || i == n) {
                if (run && !run->done)
                    SendUp(*run, first, i - first);
                run = s;
                first = i;
            }
        }
        if (n < kBatch)
            return;
    }
}

void TRelayUdp::SendUp(Session& s, int first, int count) {
    if (count == 0)
        return;
    if (s.fd < 0) {
        // Still looking its destination up: kept while there is room, to go once it is known.
        for (int i = first; i < first + count; ++i) {
            const std::size_t length = messages_[i].msg_len;
            if (s.trying && s.trying->kept.size() < kKeptDatagrams &&
                s.trying->keptBytes + length <= kKeptBytes)
                Keep(s, static_cast<const char*>(iovs_[i].iov_base), length);
            else
                NoteDropped(&s);
        }
        return;
    }
    // The receive buffers go out as they are: each iovec already holds its datagram's length.
    for (int i = first; i < first + count; ++i) {
        iovs_[i].iov_len = messages_[i].msg_len;
        messages_[i].msg_hdr.msg_name = nullptr;
        messages_[i].msg_hdr.msg_namelen = 0;
        messages_[i].msg_hdr.msg_control = nullptr;
        messages_[i].msg_hdr.msg_controllen = 0;
    }
    int at = first;
    const int end = first + count;
    while (at < end && !s.done) {
        const int sent = ::sendmmsg(s.fd, &messages_[at], static_cast<unsigned>(end - at), MSG_DONTWAIT);
        if (sent > 0) {
            std::uint64_t bytes = 0;
            for (int i = at; i < at + sent; ++i) {
                bytes += messages_[i].msg_len;
                if (s.trying && s.trying->NextChoice())
                    Keep(s, static_cast<const char*>(iovs_[i].iov_base), iovs_[i].iov_len);
            }
            Add(s.bytesUp, bytes);
            Add(s.datagramsUp, static_cast<std::uint64_t>(sent));
            at += sent;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (DestinationGone(errno)) {
            // An answer to an earlier datagram: this one went nowhere. A session that moves on to another
            // destination sends its kept datagrams there; the rest of this run is dropped.
            NoteDropped(&s, static_cast<std::uint64_t>(end - at));
            DestinationFailed(s, errno);
            return;
        }
        // Too large for the way out (EMSGSIZE), or no room in the socket: this one is dropped whole.
        NoteDropped(&s);
        ++at;
    }
}

void TRelayUdp::Keep(Session& s, const char* data, std::size_t length) {
    Trying& t = *s.trying;
    if (t.kept.size() >= kKeptDatagrams || t.keptBytes + length > kKeptBytes)
        return;
    try {
        t.kept.emplace_back(data, length);
        t.keptBytes += length;
    } catch (const std::bad_alloc&) {
        // Not kept: the next destination misses it, as it would a lost datagram.
    }
}

void TRelayUdp::FromDestination(Session& s) {
    const int listenFd = fds_[s.listen];
    for (int round = 0; round < kRoundsPerTurn && !s.done; ++round) {
        for (int i = 0; i < kBatch; ++i) {
            iovs_[i] = {buffers_.get() + kBufferSize * static_cast<std::size_t>(i), kBufferSize};
            messages_[i].msg_hdr = {};
            messages_[i].msg_hdr.msg_iov = &iovs_[i];
            messages_[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = ::recvmmsg(s.fd, messages_.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (n < 0) {
            if (DestinationGone(errno))
                DestinationFailed(s, errno);
            return;
        }
        if (n == 0)
            return;
        // It answered: there is no going elsewhere now.
        s.answered = true;
        s.trying.reset();
        Touch(s, Clock::now());
        // Those that came cut are dropped; the others go to the client in place, from the address it
        // sent to.
        const std::size_t controlLength = s.local.family ? ReplyControl(s.local, controls_[0].data()) : 0;
        int kept = 0;
        for (int i = 0; i < n; ++i) {
            if (messages_[i].msg_hdr.msg_flags & MSG_TRUNC) {
                NoteDropped(&s);
                continue;
            }
            if (kept != i) {
                messages_[kept] = messages_[i];
                iovs_[kept] = iovs_[i];
                messages_[kept].msg_hdr.msg_iov = &iovs_[kept];
            }
            iovs_[kept].iov_len = messages_[kept].msg_len;
            messages_[kept].msg_hdr.msg_name = &s.client;
            messages_[kept].msg_hdr.msg_namelen = s.clientLength;
            messages_[kept].msg_hdr.msg_control = controlLength ? controls_[0].data() : nullptr;
            messages_[kept].msg_hdr.msg_controllen = controlLength;
            messages_[kept].msg_hdr.msg_flags = 0;
            ++kept;
        }
        int at = 0;
        while (at < kept) {
            const int sent =
                ::sendmmsg(listenFd, &messages_[at], static_cast<unsigned>(kept - at), MSG_DONTWAIT);
            if (sent > 0) {
                std::uint64_t bytes = 0;
                for (int i = at; i < at + sent; ++i)
                    bytes += messages_[i].msg_len;
                Add(s.bytesDown, bytes);
                Add(s.datagramsDown, static_cast<std::uint64_t>(sent));
                at += sent;
            } else if (errno != EINTR) {
                NoteDropped(&s); // too large for the client's way, or no room: dropped whole
                ++at;
            }
        }
        if (n < kBatch)
            return;
    }
}

TRelayUdp::Session* TRelayUdp::Admit(std::size_t listen, const Peer& peer, socklen_t length,
                                     const Local& local, Clock::time_point now) {
    if (closed_)
        return nullptr;
    const int ceiling = listener_.UdpSessionCeiling();
    if (ceiling > 0 && listener_.udpSessions_.load(std::memory_order_relaxed) >= ceiling) {
        NoteDropped(nullptr);
        return nullptr;
    }
    RelayAddress client;
    std::memcpy(&client.addr, &peer, std::min<std::size_t>(length, sizeof peer));
    client.length = length;
    const RelayAccessRules* rules = listener_.AccessRules(rules_, rulesSeen_);
    if (rules && !rules->Allows(client.addr)) {
        Refuse(peer, length, RelayEndReason::DeniedByRule, now);
        return nullptr;
    }
    if (!listener_.ReserveLink(rules ? rules->maxConnections : 0)) {
        Refuse(peer, length, RelayEndReason::LimitReached, now);
        return nullptr;
    }
    auto* s = new (std::nothrow) Session;
    std::unique_ptr<Trying> trying(new (std::nothrow) Trying);
    bool added = false;
    if (s && trying) {
        s->id = listener_.NextLinkId();
        s->listen = static_cast<std::uint8_t>(listen);
        s->client = peer;
        s->clientLength = length;
        s->local = local;
        s->startedSteady = now;
        s->last = now;
        s->trying = std::move(trying);
        try {
            std::lock_guard lock(mutex_);
            added = sessions_.emplace(KeyOf(listen, peer), s).second;
        } catch (const std::bad_alloc&) {
        }
    }
    if (!added) {
        delete s;
        listener_.linkCount_.fetch_sub(1, std::memory_order_acq_rel);
        NoteDropped(nullptr);
        return nullptr;
    }
    listener_.udpSessions_.fetch_add(1, std::memory_order_relaxed);
    Touch(*s, now);
    bool ok = true;
    try {
        if (listener_.OnConnect)
            listener_.OnConnect(Figures(*s));
    } catch (...) {
        ok = false;
    }
    if (!ok) {
        Finish(*s, RelayEndReason::Failed);
        NoteDropped(nullptr);
        return nullptr;
    }
    Resolve(*s);
    return s->done ? nullptr : s;
}

void TRelayUdp::Refuse(const Peer& peer, socklen_t length, RelayEndReason reason, Clock::time_point now) {
    NoteDropped(nullptr);
    const Key key = KeyOf(0, peer);
    Refused& last = refused_[KeyHash()(key) % refused_.size()];
    if (last.key == key && now - last.when < std::chrono::seconds(1))
        return;
    last = {key, now};
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
    if (!t.lookup || !loop_.Allows(t.lookup->pipe[1]) ||
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
        int fd = ::socket(address.addr.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0 || !loop_.Allows(fd)) {
            CloseFd(fd);
            return Finish(s, RelayEndReason::Failed); // no descriptor: another address would fare no better
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.addr), address.length) != 0) {
            t.lastError = errno;
            CloseFd(fd);
            continue;
        }
        if (!loop_.WatchTag(fd, EPOLLIN, SessionTag(s, false))) {
            CloseFd(fd);
            return Finish(s, RelayEndReason::Failed);
        }
        s.fd = fd;
        {
            std::lock_guard lock(mutex_);
            std::memcpy(&s.destination, &address.addr, std::min<std::size_t>(address.length, sizeof(Peer)));
            s.destinationLength = address.length;
        }
        s.state.store(RelayLinkState::Relaying, std::memory_order_relaxed);
        // What the client sent before this destination was known (or to one that refused) goes now.
        std::vector<std::string> kept;
        kept.swap(t.kept);
        t.keptBytes = 0;
        const bool keep = t.NextChoice();
        for (const std::string& datagram : kept) {
            if (::send(fd, datagram.data(), datagram.size(), MSG_DONTWAIT) < 0) {
                NoteDropped(&s);
                continue;
            }
            Add(s.bytesUp, datagram.size());
            Add(s.datagramsUp, 1);
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
        return Finish(s, ReasonOf(error));
    }
    Trying& t = *s.trying;
    if (error != 0)
        t.lastError = error;
    if (s.fd >= 0) {
        loop_.Unwatch(s.fd);
        CloseFd(s.fd);
        std::lock_guard lock(mutex_);
        s.destinationLength = 0;
    }
    if (t.nextAddress < t.addresses.size())
        return ConnectNext(s);
    const RelayEndReason reason =
        t.lastError == 0 && t.addresses.empty() ? RelayEndReason::NameNotFound : ReasonOf(t.lastError);
    listener_.NoteFailedDestination(t.destinations[t.nextDestination - 1]);
    if (t.nextDestination < t.destinations.size())
        return Resolve(s);
    Finish(s, reason);
}

void TRelayUdp::Touch(Session& s, Clock::time_point now) {
    s.last = now;
    if (newest_ == &s)
        return;
    Unlink(s);
    s.older = newest_;
    if (newest_)
        newest_->newer = &s;
    newest_ = &s;
    if (!oldest_)
        oldest_ = &s;
}

void TRelayUdp::Unlink(Session& s) {
    if (s.older)
        s.older->newer = s.newer;
    else if (oldest_ == &s)
        oldest_ = s.newer;
    if (s.newer)
        s.newer->older = s.older;
    else if (newest_ == &s)
        newest_ = s.older;
    s.older = s.newer = nullptr;
}

TRelayUdp::Clock::time_point TRelayUdp::NextDeadline() const {
    return oldest_ ? oldest_->last + listener_.UdpIdleTimeout() : Clock::time_point::max();
}

void TRelayUdp::OnTime(Clock::time_point now) {
    const auto idle = listener_.UdpIdleTimeout();
    while (oldest_ && now - oldest_->last >= idle)
        Finish(*oldest_, RelayEndReason::IdleTimeout);
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
    s.trying.reset();
    dead_.push_back(&s);
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
    while (oldest_)
        Finish(*oldest_, reason);
}

void TRelayUdp::Close(std::uint64_t id) {
    for (Session* s = oldest_; s; s = s->newer)
        if (s->id == id)
            return Finish(*s, RelayEndReason::ClosedByUser);
}

RelayLinkFigures TRelayUdp::Figures(const Session& s) const {
    RelayLinkFigures f;
    f.id = s.id;
    f.protocol = RelayProtocol::Udp;
    std::memcpy(&f.client.addr, &s.client, sizeof s.client);
    f.client.length = s.clientLength;
    std::memcpy(&f.destination.addr, &s.destination, sizeof s.destination);
    f.destination.length = s.destinationLength;
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

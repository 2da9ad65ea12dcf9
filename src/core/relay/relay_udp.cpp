// The datagram paths of a UDP mapping: from clients to their sessions and back, whole or dropped.
#include "core/relay/relay_udp.h"
#include "core/relay/relay_udp_session.h"

#include "core/relay/relay_keyed_hash.h"
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

using namespace udp_detail;

std::size_t TRelayUdp::KeyHash::operator()(const Key& key) const {
    static_assert(sizeof(Key) == 20, "a key hashed whole has no padding");
    return KeyedHash(&key, sizeof key);
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
        const std::vector<int>& leads = listener_.udpLeads_;
        lead_.push_back(std::find(leads.begin(), leads.end(), fds_[i]) != leads.end());
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
            // The address the datagram was sent to may be a broadcast or multicast one, which no reply can
            // come from; the system tells the address of this machine that took it in (the same one for
            // any other datagram).
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            local.family = AF_INET;
            local.everyCopy = info.ipi_addr.s_addr != info.ipi_spec_dst.s_addr;
            std::memcpy(local.address.data(), &info.ipi_spec_dst, 4);
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            local.family = AF_INET6;
            local.ifindex = info.ipi6_ifindex;
            // A reply to a multicast datagram leaves from an address of the link it came on.
            local.everyCopy = IN6_IS_ADDR_MULTICAST(&info.ipi6_addr);
            if (!local.everyCopy)
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
        TRelayBandwidth* limit = loop_.Limit(true);
        // Runs of datagrams from one client go out in one call.
        Session* run = nullptr;
        int first = 0;
        for (int i = 0; i <= n; ++i) {
            Session* s = nullptr;
            if (i < n) {
                const msghdr& h = messages_[i].msg_hdr;
                auto found = sessions_.find(KeyOf(listen, peers_[i]));
                if (found != sessions_.end()) {
                    s = found->second;
                } else if (const Local local = LocalOf(h); !local.everyCopy || lead_[listen]) {
                    s = Admit(listen, peers_[i], h.msg_namelen, local, now);
                }
                if (s && (h.msg_flags & MSG_TRUNC)) {
                    NoteDropped(s); // larger than any datagram can be: never passed on cut
                    s = nullptr;
                }
                if (s && limit && !limit->Take(messages_[i].msg_len, now)) {
                    NoteDropped(s); // over the bandwidth: a datagram is never held back
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
            if (s.trying && Keep(s, static_cast<const char*>(iovs_[i].iov_base), length))
                ++s.trying->unsent;
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

bool TRelayUdp::Keep(Session& s, const char* data, std::size_t length) {
    Trying& t = *s.trying;
    if (t.kept.size() >= kKeptDatagrams || t.keptBytes + length > kKeptBytes)
        return false;
    try {
        t.kept.emplace_back(data, length);
        t.keptBytes += length;
        return true;
    } catch (const std::bad_alloc&) {
        return false; // not kept: the next destination misses it, as it would a lost datagram
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
        // It answered: there is no going elsewhere now, and it lasts the whole idle time.
        if (!s.answered) {
            Unlink(s);
            s.answered = true;
        }
        s.trying.reset();
        const Clock::time_point now = Clock::now();
        TRelayBandwidth* limit = loop_.Limit(false);
        Touch(s, now);
        // Those that came cut are dropped; the others go to the client in place, from the address it
        // sent to.
        const std::size_t controlLength = s.local.family ? ReplyControl(s.local, controls_[0].data()) : 0;
        int kept = 0;
        for (int i = 0; i < n; ++i) {
            if ((messages_[i].msg_hdr.msg_flags & MSG_TRUNC) ||
                (limit && !limit->Take(messages_[i].msg_len, now))) {
                NoteDropped(&s); // cut, or over the bandwidth
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
    // The place under the ceiling comes first: beyond it, a session never answered makes room, or the
    // new client's datagrams are dropped unreported.
    if (!listener_.ReserveUdpSession() && !(MakeRoom(now) && listener_.ReserveUdpSession())) {
        // The system hands each client to one thread: the others may have a session to give up, for the
        // next datagram of this client.
        if (!listener_.udpRoomWanted_.exchange(true, std::memory_order_relaxed))
            listener_.WakeLoops();
        NoteDropped(nullptr);
        return nullptr;
    }
    std::atomic<int>& sessions = listener_.udpSessions_;
    RelayAddress client;
    std::memcpy(&client.addr, &peer, std::min<std::size_t>(length, sizeof peer));
    client.length = length;
    const RelayAccessRules* rules = listener_.AccessRules(rules_, rulesSeen_);
    if (rules && !rules->Allows(client.addr)) {
        sessions.fetch_sub(1, std::memory_order_relaxed);
        Refuse(peer, length, RelayEndReason::DeniedByRule, now);
        return nullptr;
    }
    if (TRelayOwnSocket::GoesRound(client, true, listener_)) {
        sessions.fetch_sub(1, std::memory_order_relaxed);
        Refuse(peer, length, RelayEndReason::Loop, now);
        return nullptr;
    }
    if (!listener_.ReserveLink(rules ? rules->maxConnections : 0)) {
        sessions.fetch_sub(1, std::memory_order_relaxed);
        Refuse(peer, length, RelayEndReason::LimitReached, now);
        return nullptr;
    }
    // One address, however many ports it sends from, holds no more than its share.
    const TRelaySources::Address source = TRelaySources::AddressOf(reinterpret_cast<const sockaddr*>(&peer));
    if (!listener_.sources_.Take(source, listener_.UdpSessionsPerSource())) {
        listener_.linkCount_.fetch_sub(1, std::memory_order_acq_rel);
        sessions.fetch_sub(1, std::memory_order_relaxed);
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
        listener_.sources_.Give(source);
        listener_.linkCount_.fetch_sub(1, std::memory_order_acq_rel);
        sessions.fetch_sub(1, std::memory_order_relaxed);
        NoteDropped(nullptr);
        return nullptr;
    }
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

} // namespace qv

#include "core/relay/relay_link.h"

#include "core/relay/relay_listener.h"
#include "core/relay/relay_proxy_header.h"
#include "core/relay/relay_socket.h"

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace qv {
namespace {

// Sockets report changes only (edge-triggered): each one is registered once, for everything.
constexpr std::uint32_t kSocketEvents = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
// Chunks each direction may move in one turn of its loop before the other links get theirs.
constexpr int kChunksPerTurn = 16;

// Remembers what a socket has reported: it reports changes only.
void Note(std::uint32_t events, bool& readable, bool& ending, bool& writable) {
    readable = readable || (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP));
    ending = ending || (events & (EPOLLRDHUP | EPOLLHUP));
    writable = writable || (events & EPOLLOUT);
}

} // namespace

TRelayLink::TRelayLink(TRelayLoop& loop, int inFd, std::uint64_t id, const RelayAddress& client)
    : loop_(loop), listener_(loop.Listener()), inFd_(inFd), up_(loop.Pipes(), loop.Scratch()),
      down_(loop.Pipes(), loop.Scratch()), id_(id), client_(client) {
    up_.CountInto(&bytesUp_);
    down_.CountInto(&bytesDown_);
    up_.Limit(loop.Limit(true));
    down_.Limit(loop.Limit(false));
}

void TRelayLink::Limit(TRelayBandwidth* up, TRelayBandwidth* down) {
    const bool held = up_.Held() || down_.Held();
    up_.Limit(up);
    down_.Limit(down);
    if (held && stage_ == Stage::Relaying)
        loop_.RunAgain(*this);
}

RelayLinkFigures TRelayLink::Figures() const {
    RelayLinkFigures figures;
    figures.id = id_;
    figures.client = client_;
    figures.destination = destination_;
    figures.tried = tried_;
    figures.state = state_.load(std::memory_order_relaxed);
    figures.reason = reason_.load(std::memory_order_relaxed);
    figures.bytesUp = bytesUp_.load(std::memory_order_relaxed);
    figures.bytesDown = bytesDown_.load(std::memory_order_relaxed);
    figures.started = started_;
    figures.startedSteady = startedSteady_;
    return figures;
}

RelayEndReason TRelayLink::ConnectFailure() const {
    if (lastConnectError_ == 0)
        return lookedUp_ ? RelayEndReason::NameNotFound : RelayEndReason::Failed;
    return ReasonOfConnectError(lastConnectError_);
}

RelayEndReason TRelayLink::ResetBy(const TRelayChannel& failed, bool upward) const {
    // Upward the source is the client; downward it is the destination.
    return failed.FailedAtSource() == upward ? RelayEndReason::ClientReset : RelayEndReason::DestinationReset;
}

TRelayLink::~TRelayLink() {
    CloseFd(inFd_);
    CloseFd(outFd_);
}

void TRelayLink::Begin() {
    // The client is watched from the start: one that goes away while the outgoing connection is being
    // made ends the link at once.
    bool ok = loop_.Watch(inFd_, kSocketEvents, *this, TRelayLoop::kIncoming);
    try {
        if (listener_.OnConnect)
            listener_.OnConnect(Figures());
    } catch (...) {
        ok = false;
    }
    if (!ok)
        return Finish(false, RelayEndReason::Failed);
    Resolve();
}

void TRelayLink::Resolve() {
    if (destinations_.empty())
        destinations_ = listener_.DestinationsNow();
    const RelayDestination& destination = destinations_[nextDestination_++];
    const std::string& host = destination.host;
    port_ = destination.port;
    connectTimeout_ = listener_.ConnectTimeout();
    nextAddress_ = 0;
    lastConnectError_ = 0;
    lookedUp_ = false;
    SetState(RelayLinkState::Resolving);
    if (port_ < 0 || port_ > 65535 || host.empty())
        return Finish(false, RelayEndReason::Failed);
    addresses_.resize(1);
    if (ParseNumericHost(host, addresses_[0]))
        return ConnectNext();
    addresses_.clear();
    lookedUp_ = true;
    if (LooksNumeric(host))
        return DestinationFailed(RelayEndReason::NameNotFound);
    // The lookup may take as long as the name server likes; the link waits for it only as long as its
    // client and the listener do.
    lookup_ = listener_.resolvers_.Start(host);
    if (!lookup_ || !loop_.Allows(lookup_->pipe[1]) ||
        !loop_.Watch(lookup_->pipe[0], EPOLLIN, *this, TRelayLoop::kLookup))
        return Finish(false, RelayEndReason::Failed);
}

void TRelayLink::OnLookupDone() {
    loop_.Unwatch(lookup_->pipe[0]);
    if (lookup_->ready.load(std::memory_order_acquire))
        addresses_ = lookup_->addresses;
    lookup_.reset();
    ConnectNext();
}

void TRelayLink::ConnectNext() {
    SetState(RelayLinkState::Connecting);
    own_.Release(); // the socket of the last attempt is closed
    // Asked as late as this: the relay's socket that is this link's client became known just after its
    // connect, which the accept of this link may have overtaken.
    if (TRelayOwnSocket::GoesRound(client_, false, listener_))
        return Finish(false, RelayEndReason::Loop);
    while (nextAddress_ < addresses_.size()) {
        const RelayAddress& address = addresses_[nextAddress_++];
        loop_.SetDestination(*this, address, port_, false);
        if (listener_.IsOwnEndpoint(address, port_, false)) {
            lastConnectError_ = ECONNREFUSED;
            continue;
        }
        bool connected = false;
        const TRelayOwnSocket::Connecting connecting(address, port_);
        outFd_ = BeginConnect(address, port_, connected);
        if (outFd_ < 0) {
            lastConnectError_ = errno;
            continue;
        }
        if (const int itself = own_.Take(outFd_, address, port_, false, client_, listener_); itself != 0) {
            CloseFd(outFd_);
            lastConnectError_ = itself;
            continue;
        }
        if (!loop_.Allows(outFd_)) {
            CloseFd(outFd_); // into the reserve: another address would fare no better
            lastConnectError_ = 0;
            lookedUp_ = false;
            break;
        }
        if (!loop_.Watch(outFd_, kSocketEvents, *this, TRelayLoop::kOutgoing)) {
            CloseFd(outFd_);
            continue;
        }
        if (connected)
            return OnOutgoingEvent(EPOLLOUT);
        loop_.SetDeadline(*this, Clock::now() + connectTimeout_);
        return;
    }
    DestinationFailed(ConnectFailure());
}

void TRelayLink::DestinationFailed(RelayEndReason reason) {
    // Only a destination that did not answer is worth skipping and going past; a lack of
    // descriptors or memory would fail the next one alike.
    if (reason == RelayEndReason::Failed)
        return Finish(false, reason);
    listener_.NoteFailedDestination(destinations_[nextDestination_ - 1]);
    if (nextDestination_ < destinations_.size())
        return Resolve();
    Finish(false, reason);
}

bool TRelayLink::SendProxyHeader() {
    const int version = listener_.ProxyProtocol();
    if (version == 0)
        return true;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(inFd_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return false;
    // A connection just made has an empty send buffer: the few bytes of the header go at once.
    const std::string header = ProxyHeader(version, client_.addr, local);
    return ::send(outFd_, header.data(), header.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(header.size());
}

void TRelayLink::OnOutgoingEvent(std::uint32_t events) {
    if (stage_ == Stage::Relaying) {
        if (events & EPOLLERR)
            return Finish(false, RelayEndReason::DestinationReset);
        Note(events, outReadable_, outEnding_, outWritable_);
        return Pump();
    }
    if (!(events & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
        return;
    loop_.ClearDeadline(*this);
    const int error = ConnectError(outFd_);
    // A reset needs a connection: the destination took it in and reset it before this event came, which
    // is no failed connect and no reason to try a fallback.
    const bool resetOnArrival = error == ECONNRESET || error == EPIPE;
    if (!resetOnArrival && (!(events & EPOLLOUT) || ((events & (EPOLLERR | EPOLLHUP)) && error != 0))) {
        lastConnectError_ = error;
        CloseFd(outFd_); // which also takes it out of the loop's watch
        return ConnectNext();
    }
    stage_ = Stage::Relaying;
    SetState(RelayLinkState::Relaying);
    loop_.SetDestination(*this, addresses_[nextAddress_ - 1], port_);
    if (resetOnArrival)
        return Finish(false, RelayEndReason::DestinationReset);
    if (!SendProxyHeader())
        return Finish(false, RelayEndReason::Failed);
    up_.SetEnds(inFd_, outFd_);
    down_.SetEnds(outFd_, inFd_);
    Note(events, outReadable_, outEnding_, outWritable_);
    Pump();
}

// The client has gone when its socket hangs up or fails, or when it ends its stream without having sent
// anything: a client that sent a request and then ended its side is waiting for the reply, and is kept.
bool TRelayLink::ClientHasGone(std::uint32_t events) {
    if (events & (EPOLLHUP | EPOLLERR))
        return true;
    if ((events & EPOLLRDHUP) && watchClientEnd_) {
        char byte;
        if (::recv(inFd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
            return true;
        watchClientEnd_ = false;
    }
    return false;
}

void TRelayLink::OnEvent(TRelayLoop::Role role, std::uint32_t events) {
    switch (role) {
    case TRelayLoop::kLookup:
        return OnLookupDone();
    case TRelayLoop::kOutgoing:
        return OnOutgoingEvent(events);
    case TRelayLoop::kIncoming:
        break;
    }
    if (stage_ == Stage::Connecting) {
        if (ClientHasGone(events))
            return Finish(false,
                          events & EPOLLERR ? RelayEndReason::ClientReset : RelayEndReason::ClientClosed);
        Note(events, inReadable_, inEnding_, inWritable_);
        return;
    }
    if (events & EPOLLERR)
        return Finish(false, RelayEndReason::ClientReset);
    Note(events, inReadable_, inEnding_, inWritable_);
    Pump();
}

void TRelayLink::OnDeadline(Clock::time_point now) {
    if (stage_ == Stage::Connecting) {
        CloseFd(outFd_); // the connect has taken too long: the next address
        lastConnectError_ = ETIMEDOUT;
        return ConnectNext();
    }
    // Half-closed and quiet both ways for the whole timeout: ended. A direction waiting for its grant
    // of bandwidth is not quiet, however long the grant takes.
    if ((outShut_ || inShut_) && !up_.Held() && !down_.Held()) {
        const auto timeout = listener_.HalfClosedTimeout();
        if (now - lastActivity_ >= timeout)
            return Finish(false, RelayEndReason::HalfClosedTimeout);
        return loop_.SetDeadline(*this, lastActivity_ + timeout);
    }
    // A grant of bandwidth is due.
    Pump();
}

void TRelayLink::WaitForBandwidth() {
    Clock::time_point due = Clock::time_point::max();
    if (up_.Held())
        due = up_.ReadAt();
    if (down_.Held())
        due = std::min(due, down_.ReadAt());
    // A later deadline (the half-closed timeout) is set again when this one has passed.
    if (!hasDeadline_ || due < deadline_)
        loop_.SetDeadline(*this, due);
}

void TRelayLink::Pump() {
    // The directions take turns a chunk at a time, so that an echoing destination keeps both flowing.
    bool moving = true;
    int round = 0;
    for (; moving && round < kChunksPerTurn; ++round) {
        int upBudget = 1;
        int downBudget = 1;
        if (!up_.MoveOn(inReadable_, inEnding_, outWritable_, upBudget))
            return Finish(false, ResetBy(up_, true));
        if (!down_.MoveOn(outReadable_, outEnding_, inWritable_, downBudget))
            return Finish(false, ResetBy(down_, false));
        moving = upBudget == 0 || downBudget == 0;
    }
    if (firstEnd_ == RelayEndReason::None && (up_.Eof() || down_.Eof()))
        firstEnd_ = up_.Eof() ? RelayEndReason::ClientClosed : RelayEndReason::DestinationClosed;
    // An end of stream is passed on once everything before it has been written; the link ends when both
    // directions have ended, and closing the sockets then ends the streams that are still open.
    if (up_.Eof() && down_.Eof())
        return Finish(true, firstEnd_);
    if (up_.Eof() && !outShut_) {
        ::shutdown(outFd_, SHUT_WR);
        outShut_ = true;
    }
    if (down_.Eof() && !inShut_) {
        ::shutdown(inFd_, SHUT_WR);
        inShut_ = true;
    }
    if (outShut_ || inShut_) {
        // Half-closed: the link lives on while either side still talks.
        SetState(RelayLinkState::HalfClosed);
        lastActivity_ = Clock::now();
        if (!hasDeadline_)
            loop_.SetDeadline(*this, lastActivity_ + listener_.HalfClosedTimeout());
    }
    if (up_.Held() || down_.Held())
        WaitForBandwidth();
    if (moving && (inReadable_ || outReadable_))
        loop_.RunAgain(*this);
}

void TRelayLink::Abort(RelayEndReason reason) {
    closing_ = true;
    ::shutdown(inFd_, SHUT_RDWR);
    if (outFd_ >= 0)
        ::shutdown(outFd_, SHUT_RDWR);
    Finish(false, reason);
}

void TRelayLink::Finish(bool ended, RelayEndReason reason) {
    if (stage_ == Stage::Done)
        return;
    stage_ = Stage::Done;
    ended_ = ended;
    reason_.store(reason, std::memory_order_relaxed);
    SetState(RelayLinkState::Ending);
    if (lookup_) {
        // The lookup finishes on its own; its answer goes nowhere.
        loop_.Unwatch(lookup_->pipe[0]);
        lookup_.reset();
    }
    try {
        if (listener_.OnDisconnect)
            listener_.OnDisconnect(Figures());
    } catch (...) {
        // Whatever the handler does, the link ends.
    }
    if (outFd_ >= 0 && !ended_)
        ::shutdown(outFd_, SHUT_WR);
    loop_.Remove(*this);
    CloseIncoming();
    CloseFd(outFd_);
    own_.Release();
}

void TRelayLink::CloseIncoming() {
    if (!closing_ && !ended_) {
        // Unread input left in the socket would make the close send a reset, which can destroy the last
        // reply still on its way to the client: end the stream first, then throw the input away.
        ::shutdown(inFd_, SHUT_WR);
        for (int i = 0; i < 16 && ::recv(inFd_, nullptr, 1 << 20, MSG_TRUNC | MSG_DONTWAIT) > 0; ++i) {
        }
    }
    CloseFd(inFd_);
}

} // namespace qv

#include "core/relay/relay_link.h"

#include "core/relay/relay_connect.h"
#include "core/relay/relay_listener.h"
#include "core/relay/relay_pump.h"
#include "core/relay/relay_socket.h"

#include <sys/socket.h>

namespace qv {

TRelayLink::~TRelayLink() {
    CloseFd(inFd_);
    int out = outFd_.load();
    CloseFd(out);
}

void TRelayLink::Run(void* self) {
    auto* link = static_cast<TRelayLink*>(self);
    link->Relay();
    link->listener_.RemoveLink(*link);
    delete link;
}

void TRelayLink::Relay() {
    // Relay threads never let an exception escape: whatever fails, the one disconnect still follows.
    bool connected = true;
    try {
        if (listener_.OnConnect)
            listener_.OnConnect(*this);
    } catch (...) {
        connected = false;
    }
    int out = -1;
    if (connected) {
        try {
            out = ConnectOutgoing(listener_.MappedHost(), listener_.MappedPort(), inFd_, closing_,
                                  listener_.resolvers_, listener_.ConnectTimeout());
        } catch (...) {
            out = -1;
        }
        // Published for a stop, which shuts it down too: a link waiting to write to a destination that
        // does not read may not be watching the client's socket.
        outFd_.store(out);
        if (out >= 0 && closing_.load())
            ::shutdown(out, SHUT_RDWR);
        if (out >= 0)
            ended_ = PumpRelay(inFd_, out, closing_, listener_.pipes_, listener_.HalfClosedTimeout());
    }
    try {
        if (listener_.OnDisconnect)
            listener_.OnDisconnect(*this);
    } catch (...) {
    }
    // The socket itself is closed with the link, once it has left the list a stop walks.
    if (out >= 0 && !ended_)
        ::shutdown(out, SHUT_WR);
}

void TRelayLink::CloseIncoming() {
    if (!closing_.load(std::memory_order_acquire) && !ended_) {
        // Unread input left in the socket would make the close send a reset, which can destroy the last
        // reply still on its way to the client: end the stream first, then throw the input away.
        ::shutdown(inFd_, SHUT_WR);
        for (int i = 0; i < 16 && ::recv(inFd_, nullptr, 1 << 20, MSG_TRUNC | MSG_DONTWAIT) > 0; ++i) {
        }
    }
    CloseFd(inFd_);
}

} // namespace qv

#include "core/relay/relay_link.h"

#include "core/relay/relay_connect.h"
#include "core/relay/relay_listener.h"
#include "core/relay/relay_pump.h"
#include "core/relay/relay_socket.h"

#include <sys/socket.h>

namespace qv {

TRelayLink::~TRelayLink() {
    CloseFd(inFd_);
    CloseFd(outFd_);
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
    if (connected) {
        try {
            outFd_ = ConnectOutgoing(listener_.MappedHost(), listener_.MappedPort(), inFd_, closing_,
                                     listener_.resolvers_, listener_.ConnectTimeout());
        } catch (...) {
            outFd_ = -1;
        }
        if (outFd_ >= 0)
            ended_ = PumpRelay(inFd_, outFd_, closing_, listener_.pipes_, listener_.HalfClosedTimeout());
    }
    try {
        if (listener_.OnDisconnect)
            listener_.OnDisconnect(*this);
    } catch (...) {
    }
    if (outFd_ >= 0 && !ended_)
        ::shutdown(outFd_, SHUT_WR);
    CloseFd(outFd_);
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

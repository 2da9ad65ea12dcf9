#pragma once
#include <atomic>

namespace qv {

class TRelayListener;

// One accepted connection and its outgoing connection, relayed on a thread of its own. It is the argument
// of the listener's events; handlers do not look inside.
class TRelayLink {
public:
    TRelayLink(const TRelayLink&) = delete;
    TRelayLink& operator=(const TRelayLink&) = delete;

private:
    friend class TRelayListener;
    TRelayLink(TRelayListener& listener, int inFd) : listener_(listener), inFd_(inFd) {}
    ~TRelayLink();

    // Thread body: events, outgoing connection, relay, removal. Deletes the link.
    static void Run(void* self);
    void Relay();
    void CloseIncoming();

    TRelayListener& listener_;
    int inFd_;
    std::atomic<int> outFd_{-1};       // set once connected; closed only by the destructor
    std::atomic<bool> closing_{false}; // set by a stop, with the incoming socket shut down
    bool ended_ = false;               // both streams ended: nothing left to send or to read
    // The listener's list of open links; guarded by its lock.
    TRelayLink* prev_ = nullptr;
    TRelayLink* next_ = nullptr;
};

} // namespace qv

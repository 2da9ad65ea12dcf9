#pragma once

namespace qv {

// Descriptors the relay leaves to the rest of the process: without them the toolkit cannot make its own
// pipes and ends the whole process, and a log line or a saved file cannot be written.
inline constexpr int kDescriptorReserve = 64;
// What an accepted connection's link may open besides: its outgoing socket and two pipes.
inline constexpr int kLinkDescriptors = 5;

// Tells whether the relay may keep a descriptor the system has just handed it. Linux hands out the lowest
// free number, so a descriptor numbered n means every number below n is in use: one at or above the soft
// limit less the reserve leaves fewer than the reserve free, and the relay gives it back. That costs a
// comparison per descriptor; the limit is read again only when one lands above the ceiling (the limit
// may have been raised since) or the system says there are none left.
class TRelayDescriptorCeiling {
public:
    TRelayDescriptorCeiling() { Refresh(); }
    // room: more descriptors that are to fit below the ceiling once this one is kept.
    bool Allows(int fd, int room = 0) {
        if (fd + room < ceiling_)
            return true;
        Refresh();
        return fd + room < ceiling_;
    }
    // A UDP session's socket: it leaves a quarter of the descriptors below the ceiling to accepted
    // connections, so that a flood of datagram clients cannot stop a TCP mapping from accepting.
    bool AllowsSession(int fd) {
        if (fd < ceiling_ - ceiling_ / 4)
            return true;
        Refresh();
        return fd < ceiling_ - ceiling_ / 4;
    }
    void Refresh();

private:
    int ceiling_ = 0;
};

} // namespace qv

#include "core/relay/relay_pump.h"

#include "core/relay/relay_pipes.h"
#include "core/relay/relay_socket.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv {
namespace {

// One direction of a link. Bytes move through a pipe with splice, so they never enter this process;
// where the pipe cannot be had, through a buffer of one chunk.
class Channel {
public:
    Channel(int src, int dst, TRelayPipes& pipes) : src_(src), dst_(dst), pipes_(pipes) {}
    ~Channel() {
        // A pipe with bytes still in it cannot serve another link.
        CloseFd(pipe_[0]);
        CloseFd(pipe_[1]);
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    bool Reading() const { return pending_ == 0 && !eof_; }
    bool Writing() const { return pending_ > 0; }
    bool Eof() const { return eof_; }

    // Takes in at most one chunk. False on a failure; nothing there yet is no failure.
    bool Fill() {
        if (splice_ && pipe_[0] < 0 && !pipes_.Take(pipe_))
            splice_ = false;
        for (;;) {
            ssize_t n;
            if (splice_) {
                n = ::splice(src_, nullptr, pipe_[1], nullptr, kRelayChunk,
                             SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
                if (n < 0 && errno == EINVAL) {
                    splice_ = false;
                    continue;
                }
            } else {
                if (!buffer_)
                    buffer_.reset(new (std::nothrow) char[kRelayChunk]);
                if (!buffer_)
                    return false;
                n = ::recv(src_, buffer_.get(), kRelayChunk, 0);
            }
            if (n > 0) {
                pending_ = static_cast<std::size_t>(n);
                offset_ = 0;
                return true;
            }
            if (n == 0) {
                eof_ = true;
                ReleasePipe();
                return true;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            ReleasePipe();
            return true;
        }
    }

    // Writes as much of the chunk in hand as the destination takes. False on a failure.
    bool Flush() {
        while (pending_ > 0) {
            ssize_t n = splice_ ? ::splice(pipe_[0], nullptr, dst_, nullptr, pending_,
                                           SPLICE_F_MOVE | SPLICE_F_NONBLOCK)
                                : ::send(dst_, buffer_.get() + offset_, pending_, MSG_NOSIGNAL);
            if (n > 0) {
                pending_ -= static_cast<std::size_t>(n);
                offset_ += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            }
        }
        ReleasePipe();
        return true;
    }

private:
    // The pipe goes back to the spare ones as soon as it is empty: an idle link holds none.
    void ReleasePipe() {
        if (pipe_[0] >= 0)
            pipes_.Give(pipe_);
    }

    int src_;
    int dst_;
    TRelayPipes& pipes_;
    int pipe_[2] = {-1, -1};
    bool splice_ = true;
    std::unique_ptr<char[]> buffer_;
    std::size_t pending_ = 0;
    std::size_t offset_ = 0;
    bool eof_ = false;
};

// Moves one direction on after a wait: reads when it may, then writes what it holds.
bool Step(Channel& c, bool readable, bool writable) {
    bool filled = false;
    if (c.Reading() && readable) {
        if (!c.Fill())
            return false;
        filled = c.Writing();
    }
    // A fresh chunk is written at once: the destination usually has room, which saves a wait.
    if (c.Writing() && (filled || writable))
        return c.Flush();
    return true;
}

} // namespace

bool PumpRelay(int inFd, int outFd, const std::atomic<bool>& stop, TRelayPipes& pipes,
               std::chrono::milliseconds halfClosedTimeout) {
    Channel up(inFd, outFd, pipes);
    Channel down(outFd, inFd, pipes);
    bool outShut = false;
    bool inShut = false;
    for (;;) {
        // An end of stream is passed on once everything before it has been written; the link ends when
        // both directions have ended.
        if (up.Eof() && !outShut) {
            ::shutdown(outFd, SHUT_WR);
            outShut = true;
        }
        if (down.Eof() && !inShut) {
            ::shutdown(inFd, SHUT_WR);
            inShut = true;
        }
        if (outShut && inShut)
            return true;
        short inEvents = (up.Reading() ? POLLIN : 0) | (down.Writing() ? POLLOUT : 0);
        short outEvents = (down.Reading() ? POLLIN : 0) | (up.Writing() ? POLLOUT : 0);
        // A socket is watched only while there is something to do on it: one whose directions are both
        // shut reports a hang-up on every wait. A stop shuts the client's socket, which wakes this wait
        // whenever the client is being read.
        pollfd p[2] = {{inEvents ? inFd : -1, inEvents, 0}, {outEvents ? outFd : -1, outEvents, 0}};
        // Half-closed links that have gone quiet on both sides are ended.
        const bool halfClosed = outShut || inShut;
        int r = ::poll(p, 2, halfClosed ? static_cast<int>(halfClosedTimeout.count()) : -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (stop.load(std::memory_order_acquire) || r == 0)
            return false;
        if ((p[0].revents & (POLLERR | POLLNVAL)) || (p[1].revents & (POLLERR | POLLNVAL)))
            return false;
        // A hang-up means the peer's end of stream (and ours) is there to be read.
        bool inReadable = p[0].revents & (POLLIN | POLLHUP);
        bool outReadable = p[1].revents & (POLLIN | POLLHUP);
        if (!Step(up, inReadable, p[1].revents & POLLOUT) || !Step(down, outReadable, p[0].revents & POLLOUT))
            return false;
    }
}

} // namespace qv

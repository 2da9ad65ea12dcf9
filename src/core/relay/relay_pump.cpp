#include "core/relay/relay_pump.h"

#include "core/relay/relay_socket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/socket.h>
#include <unistd.h>

namespace qv {

TRelayChannel::~TRelayChannel() {
    if (limit_ && grant_ > 0)
        limit_->GiveBack(grant_);
    // A pipe with bytes still in it cannot serve another link.
    CloseFd(pipe_[0]);
    CloseFd(pipe_[1]);
}

bool TRelayChannel::MoveOn(bool& srcReadable, bool srcEnding, bool& dstWritable, int& budget) {
    for (;;) {
        if (pending_ > 0) {
            if (!dstWritable)
                return true;
            if (!Flush())
                return false;
            if (pending_ > 0) {
                dstWritable = false;
                if (inScratch_) {
                    // The scratch buffer serves the loop's next transfer: the rest moves out of it.
                    own_.reset(new (std::nothrow) char[pending_]);
                    if (!own_)
                        return false;
                    std::memcpy(own_.get(), data_, pending_);
                    data_ = own_.get();
                    inScratch_ = false;
                }
                return true;
            }
            own_.reset();
        }
        if (eof_ || !srcReadable || budget == 0)
            return true;
        std::size_t want = kRelayChunk;
        if (limit_ && !Granted(want))
            return true;
        --budget;
        const FillResult result = Fill(srcReadable, srcEnding, want);
        if (limit_) {
            // What the read left of the grant goes back at once.
            const std::size_t read = result == FillResult::Filled ? pending_ : 0;
            if (grant_ > read)
                limit_->GiveBack(grant_ - read);
            grant_ = 0;
        }
        if (result == FillResult::Failed) {
            failedAtSource_ = true;
            return false;
        }
    }
}

bool TRelayChannel::Granted(std::size_t& want) {
    const auto now = TRelayBandwidth::Clock::now();
    if (grant_ == 0)
        grant_ = limit_->Book(want, now, readAt_);
    held_ = readAt_ > now;
    want = grant_;
    return !held_;
}

// A copy that comes back short has emptied the socket: its next arrival is reported anew, so no read is
// spent on finding it empty. Not so a splice, which also stops short when the pipe's slots run out with
// segments still queued, nor the end of stream once reported: those are read until nothing comes.
TRelayChannel::FillResult TRelayChannel::Fill(bool& srcReadable, bool srcEnding, std::size_t want) {
    if (bulk_ && pipe_[0] < 0 && !pipes_.Take(pipe_))
        bulk_ = false;
    for (;;) {
        spliced_ = bulk_;
        ssize_t n = bulk_
                        ? ::splice(src_, nullptr, pipe_[1], nullptr, want, SPLICE_F_MOVE | SPLICE_F_NONBLOCK)
                        : ::recv(src_, scratch_, want, 0);
        if (n > 0) {
            pending_ = static_cast<std::size_t>(n);
            data_ = spliced_ ? nullptr : scratch_;
            inScratch_ = !spliced_;
            if (pending_ < want && !spliced_ && !srcEnding)
                srcReadable = false;
            else
                bulk_ = true;
            return FillResult::Filled;
        }
        if (n == 0) {
            eof_ = true;
            ReleasePipe();
            return FillResult::Eof;
        }
        if (errno == EINTR)
            continue;
        if (bulk_ && errno == EINVAL) {
            bulk_ = false; // a socket that cannot be spliced
            ReleasePipe();
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return FillResult::Failed;
        srcReadable = false;
        ReleasePipe();
        return FillResult::Again;
    }
}

bool TRelayChannel::Flush() {
    while (pending_ > 0) {
        ssize_t n =
            spliced_ ? ::splice(pipe_[0], nullptr, dst_, nullptr, pending_, SPLICE_F_MOVE | SPLICE_F_NONBLOCK)
                     : ::send(dst_, data_, pending_, MSG_NOSIGNAL);
        if (n > 0) {
            pending_ -= static_cast<std::size_t>(n);
            if (!spliced_)
                data_ += n;
            if (moved_)
                moved_->fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    if (spliced_)
        ReleasePipe();
    return true;
}

// The pipe goes back to the spare ones as soon as it is empty.
void TRelayChannel::ReleasePipe() {
    if (pipe_[0] >= 0)
        pipes_.Give(pipe_);
}

} // namespace qv

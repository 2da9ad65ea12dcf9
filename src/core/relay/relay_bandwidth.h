#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace qv {

// The bandwidth of one direction of a mapping, shared by its links on every relay thread. Bytes are
// granted before they are read: a grant books the next stretch of time at the rate, behind every grant
// booked before it, and may be read once that stretch is at most kBurst away. A link holds one grant at
// a time and asks for the next only after reading, behind the others, so links that wait are served in
// turn and each gets an equal part; a link alone gets all of it.
class TRelayBandwidth {
public:
    using Clock = std::chrono::steady_clock;

    // Any thread; 0: no limit. What was booked at the old rate is forgotten.
    void SetRate(std::uint64_t bytesPerSecond);
    std::uint64_t Rate() const;

    // Books up to `want` bytes (never 0; no more than a slice of the rate) and returns how many; they may
    // be read from `readAt` on. Only while a rate is set.
    std::size_t Book(std::size_t want, Clock::time_point now, Clock::time_point& readAt);
    // Booked bytes that were not read, for others to have.
    void GiveBack(std::size_t bytes);
    // A datagram, which cannot wait for a grant: whether its `bytes` may go now (booked then), or are
    // over the limit. It may go while no more than kBurst is booked ahead; a datagram is never split, so
    // one larger than that still goes when nothing is.
    bool Take(std::size_t bytes, Clock::time_point now);

    // Unused bandwidth is kept this long, so a link that starts reading does not wait for its first bytes
    // and a relay thread woken late does not lose any.
    static constexpr std::chrono::milliseconds kBurst{50};
    // A grant is at most this share of a second's bytes, and at least kMinSlice (a second's at most).
    static constexpr std::uint64_t kSlicesPerSecond = 64;
    static constexpr std::size_t kMinSlice = 512;

private:
    Clock::duration Cost(std::size_t bytes) const;

    mutable std::mutex mutex_;
    std::uint64_t rate_ = 0;
    std::size_t slice_ = kMinSlice;
    Clock::duration burst_{};
    Clock::time_point booked_{}; // when every byte granted so far has been paid for at the rate
};

} // namespace qv

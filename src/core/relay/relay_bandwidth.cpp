#include "core/relay/relay_bandwidth.h"

#include <algorithm>

namespace qv {

void TRelayBandwidth::SetRate(std::uint64_t bytesPerSecond) {
    std::lock_guard lock(mutex_);
    rate_ = bytesPerSecond;
    // Below kMinSlice a second, a grant is a second's bytes.
    slice_ = static_cast<std::size_t>(
        std::max<std::uint64_t>(rate_ / kSlicesPerSecond, std::min<std::uint64_t>(rate_, kMinSlice)));
    burst_ = rate_ == 0 ? Clock::duration{} : std::max<Clock::duration>(kBurst, Cost(slice_));
    booked_ = {};
}

std::uint64_t TRelayBandwidth::Rate() const {
    std::lock_guard lock(mutex_);
    return rate_;
}

TRelayBandwidth::Clock::duration TRelayBandwidth::Cost(std::size_t bytes) const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(rate_)));
}

std::size_t TRelayBandwidth::Book(std::size_t want, Clock::time_point now, Clock::time_point& readAt) {
    std::lock_guard lock(mutex_);
    if (rate_ == 0) {
        readAt = now;
        return want;
    }
    const std::size_t bytes = std::clamp<std::size_t>(want, 1, slice_);
    // Time gone by unbooked is bandwidth unused: it is kept for a burst at most, by reading up to kBurst
    // ahead of what has been paid for.
    booked_ = std::max(booked_, now) + Cost(bytes);
    readAt = booked_ - burst_;
    return bytes;
}

void TRelayBandwidth::GiveBack(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    if (rate_ != 0)
        booked_ -= Cost(bytes);
}

bool TRelayBandwidth::Take(std::size_t bytes, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (rate_ == 0)
        return true;
    const Clock::duration cost = Cost(bytes);
    if (booked_ > now && booked_ + cost > now + burst_)
        return false;
    booked_ = std::max(booked_, now) + cost;
    return true;
}

} // namespace qv

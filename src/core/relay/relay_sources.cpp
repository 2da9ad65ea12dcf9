#include "core/relay/relay_sources.h"

#include "core/relay/relay_keyed_hash.h"

#include <cstring>
#include <netinet/in.h>
#include <new>

namespace qv {

namespace {
constexpr std::uint64_t kSecondMs = 1000;

std::uint64_t Milliseconds(TRelaySources::Clock::time_point t) {
    // Never 0, which marks a slot or second never used.
    return static_cast<std::uint64_t>(
               std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count()) +
           1;
}
} // namespace

TRelaySources::Address TRelaySources::AddressOf(const sockaddr* client) {
    Address address{};
    if (client->sa_family == AF_INET6) {
        std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in6*>(client)->sin6_addr, 16);
    } else {
        address[10] = address[11] = 0xff;
        std::memcpy(address.data() + 12, &reinterpret_cast<const sockaddr_in*>(client)->sin_addr, 4);
    }
    return address;
}

std::size_t TRelaySources::Hash::operator()(const Address& address) const {
    return KeyedHash(address.data(), address.size());
}

bool TRelaySources::Take(const Address& address, int limit) {
    std::lock_guard lock(mutex_);
    try {
        int& held = held_[address];
        if (limit > 0 && held >= limit)
            return false;
        ++held;
        return true;
    } catch (const std::bad_alloc&) {
        return false; // no memory for one more address: no session either
    }
}

void TRelaySources::Give(const Address& address) {
    std::lock_guard lock(mutex_);
    const auto found = held_.find(address);
    if (found != held_.end() && --found->second <= 0)
        held_.erase(found);
}

bool TRelaySources::Report(const Address& address, Clock::time_point now) {
    const std::uint64_t ms = Milliseconds(now);
    const std::uint64_t hash = KeyedHash(address.data(), address.size());
    const std::uint64_t tag = hash >> 32;
    // The address's set of kWays slots holds it, or its least recent one takes it.
    std::atomic<std::uint64_t>* set = &reported_[hash % (reported_.size() / kWays) * kWays];
    for (;;) {
        std::atomic<std::uint64_t>* slot = set;
        std::uint64_t seen = set[0].load(std::memory_order_relaxed);
        for (std::size_t i = 0; i < kWays; ++i) {
            const std::uint64_t entry = set[i].load(std::memory_order_relaxed);
            if (entry >> 32 == tag) {
                if (static_cast<std::uint32_t>(ms - entry) < kSecondMs)
                    return false; // told less than a second ago
                slot = &set[i];
                seen = entry;
                break;
            }
            if (static_cast<std::uint32_t>(ms - entry) > static_cast<std::uint32_t>(ms - seen)) {
                slot = &set[i];
                seen = entry;
            }
        }
        if (slot->compare_exchange_strong(seen, tag << 32 | (ms & 0xffffffffu), std::memory_order_relaxed))
            break;
    }

    std::uint64_t second = second_.load(std::memory_order_relaxed);
    std::uint64_t next = 0;
    do {
        const std::uint64_t start = second >> kCountBits;
        const std::uint64_t count = second & ((1u << kCountBits) - 1);
        if (start == 0 || ms - start >= kSecondMs)
            next = ms << kCountBits | 1;
        else if (count < kReportsPerSecond)
            next = second + 1;
        else {
            unreported_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
    } while (!second_.compare_exchange_weak(second, next, std::memory_order_relaxed));
    return true;
}

TRelaySources::Clock::time_point TRelaySources::UnreportedDue() const {
    const std::uint64_t start = second_.load(std::memory_order_relaxed) >> kCountBits;
    if (start == 0)
        return Clock::time_point::max(); // no second has begun: nothing to tell
    return Clock::time_point(std::chrono::milliseconds(start - 1 + kSecondMs));
}

} // namespace qv

#pragma once

#include <sys/socket.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace qv {

// What the client addresses of one listener hold and were told, shared by its relay threads: how many
// UDP sessions each address has, and which refusals are reported. A client that rotates its ports is
// still one address: it gets no more sessions, and no more reports, than one client.
class TRelaySources {
public:
    using Clock = std::chrono::steady_clock;
    using Address = std::array<std::uint8_t, 16>; // IPv4 in its mapped IPv6 form
    static Address AddressOf(const sockaddr* client);

    // One more session of `address` unless `limit` (> 0) are held already; false then.
    bool Take(const Address& address, int limit);
    void Give(const Address& address);

    // Whether the refusal of a client at `address` is reported now: an address is reported at most once
    // a second, and the listener at most kReportsPerSecond times a second. A refusal beyond those a
    // second allows is counted, to be told as one number (TakeUnreported) once its second is over.
    bool Report(const Address& address, Clock::time_point now);
    // When the refusals counted now are to be told: the end of this second.
    Clock::time_point UnreportedDue() const;
    // The refusals counted and not told yet; the next caller gets those counted after.
    std::uint64_t TakeUnreported() { return unreported_.exchange(0, std::memory_order_relaxed); }

    static constexpr int kReportsPerSecond = 100;
    // UDP sessions of one address at most, unless the mapping's rules say otherwise.
    static constexpr int kSessionsPerAddress = 256;

private:
    struct Hash {
        std::size_t operator()(const Address& address) const;
    };
    std::mutex mutex_;
    std::unordered_map<Address, int, Hash> held_;

    // The addresses reported lately: a tag of the address's hash and when, in milliseconds, in sets of
    // kWays slots. A set asked to hold more addresses at once may report one again within the second;
    // the reports a second still bound them.
    static constexpr std::size_t kWays = 4;
    std::array<std::atomic<std::uint64_t>, 4096> reported_{};
    // This second's reports: its start in milliseconds above, their count in the low kCountBits.
    std::atomic<std::uint64_t> second_{0};
    std::atomic<std::uint64_t> unreported_{0};
    static constexpr int kCountBits = 16;
};

} // namespace qv

#include "core/relay/relay_keyed_hash.h"

#include <chrono>
#include <cstring>
#include <sys/random.h>
#include <unistd.h>

namespace qv {

namespace {
struct Key {
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;
};

Key DrawKey() {
    Key key;
    if (::getrandom(&key, sizeof key, 0) == static_cast<ssize_t>(sizeof key))
        return key;
    // No random source yet (early boot): the clock and the process id still differ from run to run.
    key.k0 = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key.k1 = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^ key.k0;
    return key;
}

const Key& ProcessKey() {
    static const Key key = DrawKey();
    return key;
}

constexpr std::uint64_t Rotate(std::uint64_t x, int b) {
    return x << b | x >> (64 - b);
}

struct State {
    std::uint64_t v0, v1, v2, v3;
    void Round() {
        v0 += v1;
        v1 = Rotate(v1, 13) ^ v0;
        v0 = Rotate(v0, 32);
        v2 += v3;
        v3 = Rotate(v3, 16) ^ v2;
        v0 += v3;
        v3 = Rotate(v3, 21) ^ v0;
        v2 += v1;
        v1 = Rotate(v1, 17) ^ v2;
        v2 = Rotate(v2, 32);
    }
    void Absorb(std::uint64_t m) {
        v3 ^= m;
        Round();
        v0 ^= m;
    }
};
} // namespace

std::uint64_t KeyedHash(const void* data, std::size_t length) {
    const Key& key = ProcessKey();
    State s{key.k0 ^ 0x736f6d6570736575ull, key.k1 ^ 0x646f72616e646f6dull, key.k0 ^ 0x6c7967656e657261ull,
            key.k1 ^ 0x7465646279746573ull};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t at = 0;
    for (; at + 8 <= length; at += 8) {
        std::uint64_t m;
        std::memcpy(&m, bytes + at, 8);
        s.Absorb(m);
    }
    std::uint64_t last = static_cast<std::uint64_t>(length) << 56;
    for (std::size_t i = 0; at + i < length; ++i)
        last |= std::uint64_t{bytes[at + i]} << (8 * i);
    s.Absorb(last);
    s.v2 ^= 0xff;
    s.Round();
    s.Round();
    s.Round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

} // namespace qv

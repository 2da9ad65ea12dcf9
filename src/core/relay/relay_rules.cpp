#include "core/relay/relay_rules.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace qv {

namespace {
void ClearHostBits(std::array<std::uint8_t, 16>& bytes, int prefix, int bits) {
    for (int bit = prefix; bit < bits; ++bit)
        bytes[static_cast<std::size_t>(bit / 8)] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
}

// The address of a peer as rules see it: IPv4-mapped IPv6 addresses are their IPv4 address.
bool PeerBytes(const sockaddr_storage& address, bool& v6, std::array<std::uint8_t, 16>& bytes) {
    bytes.fill(0);
    if (address.ss_family == AF_INET) {
        v6 = false;
        std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, 4);
        return true;
    }
    if (address.ss_family != AF_INET6)
        return false;
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr;
    v6 = !IN6_IS_ADDR_V4MAPPED(&a);
    std::memcpy(bytes.data(), v6 ? a.s6_addr : a.s6_addr + 12, v6 ? 16 : 4);
    return true;
}
} // namespace

bool ParseNetwork(const std::string& text, RelayNetwork& network, std::string& error) {
    const auto slash = text.find('/');
    const std::string address = text.substr(0, slash);
    network = RelayNetwork{};
    if (::inet_pton(AF_INET, address.c_str(), network.bytes.data()) == 1) {
        network.v6 = false;
    } else if (::inet_pton(AF_INET6, address.c_str(), network.bytes.data()) == 1) {
        network.v6 = true;
    } else {
        error = "'" + address + "' is no IPv4 or IPv6 address";
        return false;
    }
    const int bits = network.v6 ? 128 : 32;
    network.prefix = bits;
    if (slash != std::string::npos) {
        const std::string length = text.substr(slash + 1);
        if (length.empty() || length.size() > 3 ||
            length.find_first_not_of("0123456789") != std::string::npos || std::stoi(length) > bits) {
            error = "'/" + length + "' is no prefix length from 0 to " + std::to_string(bits);
            return false;
        }
        network.prefix = std::stoi(length);
    }
    // "::ffff:192.0.2.0/120" is how a dual-stack socket shows 192.0.2.0/24, and is matched as that.
    if (network.v6 && network.prefix >= 96 &&
        IN6_IS_ADDR_V4MAPPED(reinterpret_cast<const in6_addr*>(network.bytes.data()))) {
        std::array<std::uint8_t, 16> v4{};
        std::memcpy(v4.data(), network.bytes.data() + 12, 4);
        network = RelayNetwork{false, v4, network.prefix - 96};
    }
    ClearHostBits(network.bytes, network.prefix, network.v6 ? 128 : 32);
    return true;
}

std::size_t TRelayNetworkSet::KeyHash::operator()(const Key& key) const {
    std::uint64_t a = 0, b = 0;
    std::memcpy(&a, key.bytes.data(), 8);
    std::memcpy(&b, key.bytes.data() + 8, 8);
    return std::hash<std::uint64_t>()(a * 0x9E3779B97F4A7C15ull ^ b);
}

void TRelayNetworkSet::Add(const RelayNetwork& network) {
    const std::size_t family = network.v6 ? 1 : 0;
    auto& set = byLength_[family][static_cast<std::size_t>(network.prefix)];
    if (set.empty()) {
        auto& lengths = lengthsInUse_[family];
        lengths.push_back(network.prefix);
        // Longest first: the most specific networks are the likeliest to be listed one by one.
        std::sort(lengths.rbegin(), lengths.rend());
    }
    if (set.insert(Key{network.bytes}).second)
        ++count_;
}

bool TRelayNetworkSet::Contains(const sockaddr_storage& address) const {
    bool v6 = false;
    std::array<std::uint8_t, 16> bytes{};
    if (!PeerBytes(address, v6, bytes))
        return false;
    const std::size_t family = v6 ? 1 : 0;
    for (int prefix : lengthsInUse_[family]) {
        Key key{bytes};
        ClearHostBits(key.bytes, prefix, v6 ? 128 : 32);
        if (byLength_[family][static_cast<std::size_t>(prefix)].count(key))
            return true;
    }
    return false;
}

} // namespace qv

#pragma once
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace qv {

// One network, IPv4 or IPv6, written as an address alone or in CIDR form ("192.168.1.0/24",
// "2001:db8::/32"). IPv4 clients that arrive on an IPv6 socket (::ffff:a.b.c.d) count as IPv4, and so
// do networks written in that form (::ffff:a.b.c.d/96 and longer).
struct RelayNetwork {
    bool v6 = false;
    std::array<std::uint8_t, 16> bytes{}; // the address, its host bits cleared
    int prefix = 0;                       // bits that count: 0 to 32 for IPv4, 0 to 128 for IPv6
};

// Reads one network; false with a message saying what is wrong with the text.
bool ParseNetwork(const std::string& text, RelayNetwork& network, std::string& error);

// Networks looked up in a time that depends on how many prefix lengths they use, not on how many
// networks there are: one hash lookup per length in use.
class TRelayNetworkSet {
public:
    void Add(const RelayNetwork& network);
    bool Empty() const { return count_ == 0; }
    // Whether the address (an accepted peer's) lies in one of the networks.
    bool Contains(const sockaddr_storage& address) const;

private:
    struct Key {
        std::array<std::uint8_t, 16> bytes;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const;
    };
    // Per family, per prefix length: the networks of that length.
    std::array<std::vector<std::unordered_set<Key, KeyHash>>, 2> byLength_{
        std::vector<std::unordered_set<Key, KeyHash>>(33),
        std::vector<std::unordered_set<Key, KeyHash>>(129)};
    std::array<std::vector<int>, 2> lengthsInUse_{};
    std::size_t count_ = 0;
};

// Who may connect to a mapping and how many at once. An empty allow list allows everyone; a match in
// the deny list always refuses.
struct RelayAccessRules {
    TRelayNetworkSet allow;
    TRelayNetworkSet deny;
    int maxConnections = 0; // 0: no limit

    bool Allows(const sockaddr_storage& client) const {
        return !deny.Contains(client) && (allow.Empty() || allow.Contains(client));
    }
};

} // namespace qv

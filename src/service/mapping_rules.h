#pragma once

#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/relay/relay_connect.h"
#include "core/relay/relay_rules.h"
#include "core/relay/relay_socket.h"
#include "core/relay/relay_sources.h"
#include "service/mapping_service.h"

namespace qv {

class ProfileBatch;

inline constexpr std::chrono::seconds kUdpIdleDefault{60};

// The rules of one mapping as the user types them and the configuration keeps them; all empty means
// no rules, which is what a file without them gives.
struct MappingRules {
    int listenOn = 0;       // a RelayListenOn::Kind: all IPv4 addresses until chosen
    QString listenAddress;  // with OneAddress: a numeric address of this machine
    QString allow;          // networks, one per line; empty: everyone
    QString deny;           // networks, one per line
    QString maxConnections; // empty: no limit
    QString bandwidthUp;    // KiB/s, client to destination; empty: no limit
    QString bandwidthDown;  // KiB/s, destination to client
    QString fallback1;      // host:port, tried when the destination cannot be connected
    QString fallback2;
    int proxyProtocol = 0; // 0: off, 1 or 2
    int protocol = 0;      // 0: TCP, 1: UDP, 2: both on the same port number
    QString udpIdle;       // seconds a UDP session lasts without a datagram; empty: kUdpIdleDefault
    QString udpPerSource;  // UDP sessions of one client address at most; empty: the listener's default

    bool operator==(const MappingRules&) const = default;
};

using AllMappingRules = std::array<MappingRules, TMappingService::kSlots>;

// The six mappings' rules from a configuration file (its own section, scrambled).
AllMappingRules ReadMappingRules(const std::string& path);
// The keys of the rules that are set, with their scrambled values, as the file stores them.
std::vector<std::pair<std::string, std::string>> StoredRuleEntries(const AllMappingRules& rules);
// Adds them to a batch of changes: keys of empty rules are deleted, so a file without rules stays so.
void WriteMappingRules(ProfileBatch& batch, const AllMappingRules& rules);

// Rules as the relay applies them.
struct RelayRules {
    RelayListenOn listenOn;
    std::shared_ptr<const RelayAccessRules> access; // null: everyone, no limit
    std::uint64_t bandwidthUp = 0;                  // bytes per second; 0: no limit
    std::uint64_t bandwidthDown = 0;
    std::vector<RelayDestination> fallbacks;
    int proxyProtocol = 0;
    int protocol = 0; // a RelayProtocol
    std::chrono::seconds udpIdle = kUdpIdleDefault;
    int udpPerSource = TRelaySources::kSessionsPerAddress;
};

// Checks what was typed; the message names the field and, in a list, the first bad line ("Allow,
// line 3: ..."), else empty with `out` filled in.
QString CheckMappingRules(const MappingRules& rules, RelayRules& out);

// Rules that could not be read refuse every client: a broken deny list must not let everyone in.
RelayRules RefusingEveryone();

// Puts a mapping's rules in force: at once for new links, the listen choice at its next start.
void ApplyMappingRules(TMappingService& service, int slot, const RelayRules& rules);

} // namespace qv

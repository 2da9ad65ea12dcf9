#pragma once

#include <QString>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/relay/relay_connect.h"
#include "core/relay/relay_rules.h"
#include "service/mapping_service.h"

namespace qv {

class ProfileBatch;

// The rules of one mapping as the user types them and the configuration keeps them; all empty means
// no rules, which is what a file without them gives.
struct MappingRules {
    QString allow;          // networks, one per line; empty: everyone
    QString deny;           // networks, one per line
    QString maxConnections; // empty: no limit
    QString fallback1;      // host:port, tried when the destination cannot be connected
    QString fallback2;
    int proxyProtocol = 0; // 0: off, 1 or 2

    bool operator==(const MappingRules&) const = default;
};

using AllMappingRules = std::array<MappingRules, TMappingService::kSlots>;

// The six mappings' rules from a configuration file (its own section, scrambled).
AllMappingRules ReadMappingRules(const std::string& path);
// Adds them to a batch of changes: keys of empty rules are deleted, so a file without rules stays so.
void WriteMappingRules(ProfileBatch& batch, const AllMappingRules& rules);

// Rules as the relay applies them.
struct RelayRules {
    std::shared_ptr<const RelayAccessRules> access; // null: everyone, no limit
    std::vector<RelayDestination> fallbacks;
    int proxyProtocol = 0;
};

// Checks what was typed; the message names the first bad line ("Allow, line 3: ..."), else empty with
// `out` filled in.
QString CheckMappingRules(const MappingRules& rules, RelayRules& out);

} // namespace qv

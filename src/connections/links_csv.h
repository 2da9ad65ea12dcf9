#pragma once

#include <QString>
#include <chrono>
#include <deque>
#include <vector>

#include "service/mapping_service.h"

namespace qv {

// Live and ended links as comma-separated values: a header line, then one line per link with exact
// figures (bytes, seconds, times in ISO 8601), fields quoted where they need it. The protocol and, for UDP
// sessions, the datagrams come last.
QString LinksCsv(const std::vector<MappingLink>& live, const std::deque<MappingLink>& ended,
                 std::chrono::system_clock::time_point now);

} // namespace qv

#pragma once

#include <QUrl>
#include <array>

namespace qv {

// Replaces the two servers' addresses: one base address for both, or two separated by blanks.
inline constexpr const char* kNewsServersVariable = "QUORVANE_NEWS_SERVERS";

// Base addresses of server 1 and server 2, the documents "Changes.txt" and "News.txt" lie under.
std::array<QUrl, 2> NewsServers();

} // namespace qv

#pragma once
#include <string>
#include <sys/socket.h>

namespace qv {

// The PROXY protocol header that tells a destination who the client really is: version 1 (a text line)
// or 2 (binary), for the client's address and the local address it connected to. IPv4 clients that
// came in on an IPv6 socket are given as IPv4; a pair of families that cannot be told is "UNKNOWN".
std::string ProxyHeader(int version, const sockaddr_storage& client, const sockaddr_storage& local);

} // namespace qv

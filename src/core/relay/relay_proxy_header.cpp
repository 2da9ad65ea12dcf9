#include "core/relay/relay_proxy_header.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace qv {

namespace {
// An address as the header gives it: family, bytes in network order, port.
struct Endpoint {
    int family = AF_UNSPEC;
    unsigned char bytes[16] = {};
    std::uint16_t port = 0; // network order
};

Endpoint Read(const sockaddr_storage& address) {
    Endpoint e;
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        e.family = AF_INET;
        std::memcpy(e.bytes, &v4->sin_addr, 4);
        e.port = v4->sin_port;
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr);
        e.family = mapped ? AF_INET : AF_INET6;
        std::memcpy(e.bytes, v6->sin6_addr.s6_addr + (mapped ? 12 : 0), mapped ? 4 : 16);
        e.port = v6->sin6_port;
    }
    return e;
}

std::string Text(const Endpoint& e) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(e.family, e.bytes, text, sizeof text);
    return text;
}

std::string VersionOne(const Endpoint& from, const Endpoint& to) {
    if (from.family != to.family || from.family == AF_UNSPEC)
        return "PROXY UNKNOWN\r\n";
    return std::string("PROXY ") + (from.family == AF_INET ? "TCP4 " : "TCP6 ") + Text(from) + " " +
           Text(to) + " " + std::to_string(ntohs(from.port)) + " " + std::to_string(ntohs(to.port)) + "\r\n";
}

std::string VersionTwo(const Endpoint& from, const Endpoint& to) {
    static const char kSignature[12] = {'\r', '\n', '\r', '\n', '\0', '\r', '\n', 'Q', 'U', 'I', 'T', '\n'};
    std::string header(kSignature, sizeof kSignature);
    header += '\x21'; // version 2, PROXY
    if (from.family != to.family || from.family == AF_UNSPEC) {
        header += std::string("\x00\x00\x00", 3); // unspecified, no addresses
        return header;
    }
    const std::size_t size = from.family == AF_INET ? 4 : 16;
    header += from.family == AF_INET ? '\x11' : '\x21'; // TCP over IPv4 or IPv6
    const std::uint16_t length = htons(static_cast<std::uint16_t>(2 * size + 4));
    header.append(reinterpret_cast<const char*>(&length), 2);
    header.append(reinterpret_cast<const char*>(from.bytes), size);
    header.append(reinterpret_cast<const char*>(to.bytes), size);
    header.append(reinterpret_cast<const char*>(&from.port), 2);
    header.append(reinterpret_cast<const char*>(&to.port), 2);
    return header;
}
} // namespace

std::string ProxyHeader(int version, const sockaddr_storage& client, const sockaddr_storage& local) {
    const Endpoint from = Read(client);
    const Endpoint to = Read(local);
    return version == 2 ? VersionTwo(from, to) : VersionOne(from, to);
}

} // namespace qv

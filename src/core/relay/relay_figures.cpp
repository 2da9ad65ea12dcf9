#include "core/relay/relay_figures.h"

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace qv {

const char* StateText(RelayLinkState state) {
    switch (state) {
    case RelayLinkState::Resolving:
        return "resolving";
    case RelayLinkState::Connecting:
        return "connecting";
    case RelayLinkState::Relaying:
        return "relaying";
    case RelayLinkState::HalfClosed:
        return "half-closed";
    case RelayLinkState::Ending:
        return "ending";
    }
    return "";
}

const char* ProtocolText(RelayProtocol protocol) {
    switch (protocol) {
    case RelayProtocol::Tcp:
        return "TCP";
    case RelayProtocol::Udp:
        return "UDP";
    case RelayProtocol::Both:
        return "TCP+UDP";
    }
    return "";
}

const char* ReasonText(RelayEndReason reason) {
    switch (reason) {
    case RelayEndReason::None:
        return "";
    case RelayEndReason::ClientClosed:
        return "client closed";
    case RelayEndReason::DestinationClosed:
        return "destination closed";
    case RelayEndReason::Refused:
        return "destination refused";
    case RelayEndReason::TimedOut:
        return "connect timed out";
    case RelayEndReason::NameNotFound:
        return "name not found";
    case RelayEndReason::Unreachable:
        return "unreachable";
    case RelayEndReason::ClientReset:
        return "reset by the client";
    case RelayEndReason::DestinationReset:
        return "reset by the destination";
    case RelayEndReason::HalfClosedTimeout:
        return "half-closed timeout";
    case RelayEndReason::Stopped:
        return "stopped with the mapping";
    case RelayEndReason::ClosedByUser:
        return "closed from the connections window";
    case RelayEndReason::Failed:
        return "failed";
    case RelayEndReason::DeniedByRule:
        return "denied by rule";
    case RelayEndReason::LimitReached:
        return "limit reached";
    case RelayEndReason::IdleTimeout:
        return "idle timeout";
    case RelayEndReason::Loop:
        return "relay loop";
    }
    return "";
}

std::string EndpointText(const RelayAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.length == 0)
        return {};
    if (address.addr.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address.addr);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
    }
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address.addr);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
        // An IPv4 client of a dual-stack socket reads as the IPv4 address it is.
        ::inet_ntop(AF_INET, v6->sin6_addr.s6_addr + 12, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(v6->sin6_port));
    }
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6->sin6_port));
}

RelayEndReason ReasonOfConnectError(int error) {
    switch (error) {
    case ECONNREFUSED:
        return RelayEndReason::Refused;
    case ETIMEDOUT:
        return RelayEndReason::TimedOut;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
        return RelayEndReason::Unreachable;
    default:
        return RelayEndReason::Failed;
    }
}

} // namespace qv

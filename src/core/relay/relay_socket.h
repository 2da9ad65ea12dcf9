#pragma once
#include <stdexcept>
#include <string>

namespace qv {

// A listener that cannot start; the text is shown to the user as it stands.
class RelayError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

inline constexpr const char* kAddressInUseText =
    "Could not bind socket. Address and port are already in use.";

// "Socket Error # " + number + CR LF + the system's description of the error.
std::string SocketErrorText(int error);

// A non-blocking listening socket on 0.0.0.0:port (SO_REUSEADDR, the system's largest backlog). Throws
// RelayError.
int OpenListeningSocket(int port);

// The local port a socket is bound to, 0 when it cannot be told.
int BoundPort(int fd);

// Closes a descriptor, retrying nothing (close is never retried on Linux) and ignoring -1.
void CloseFd(int& fd);

// Raises the soft limit of open descriptors to the hard limit: each link holds two sockets and, while
// bytes are in flight, two pipes, so the usual 1024 would end at a few hundred links.
void RaiseDescriptorLimit();

} // namespace qv

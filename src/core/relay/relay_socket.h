#pragma once
#include <stdexcept>
#include <string>
#include <vector>

namespace qv {

// A listener that cannot start; the text is shown to the user as it stands, the system's error code
// (0 when there is none) says what to do about it, and `udp` whether it was the UDP port that failed.
class RelayError : public std::runtime_error {
public:
    explicit RelayError(const std::string& text, int code = 0, bool udp = false)
        : runtime_error(text), code_(code), udp_(udp) {}
    int Code() const { return code_; }
    bool Udp() const { return udp_; }

private:
    int code_;
    bool udp_;
};

inline constexpr const char* kAddressInUseText =
    "Could not bind socket. Address and port are already in use.";

// "Socket Error # " + number + CR LF + the system's description of the error.
std::string SocketErrorText(int error);

// A non-blocking listening socket on 0.0.0.0:port (SO_REUSEADDR, the system's largest backlog, the
// options of WatchForDeadPeer for the sockets it accepts). Throws RelayError.
int OpenListeningSocket(int port);

// Where a mapping listens.
struct RelayListenOn {
    enum class Kind {
        AllIPv4,      // 0.0.0.0, as ever
        AllAddresses, // one dual-stack socket on ::, IPv4 clients included
        ThisMachine,  // 127.0.0.1 and ::1 (::1 left out on a machine without IPv6)
        OneAddress,   // `address`, a numeric IPv4 or IPv6 address of this machine
    };
    Kind kind = Kind::AllIPv4;
    std::string address;
    bool operator==(const RelayListenOn&) const = default;
};
// The listening sockets for port, each as OpenListeningSocket makes them. Throws RelayError; nothing is
// left open then.
std::vector<int> OpenListeningSockets(int port, const RelayListenOn& on);
// The UDP sockets for port on the same addresses, non-blocking, with large buffers: `copies` of each
// (next to each other), bound together with SO_REUSEPORT when more than one, so the system spreads the
// clients over them, each client's datagrams always reaching the same copy. Throws RelayError, also when
// a socket not among them shares the port through SO_REUSEPORT.
std::vector<int> OpenDatagramSockets(int port, const RelayListenOn& on, int copies = 1);

// The local port a socket is bound to, 0 when it cannot be told.
int BoundPort(int fd);

// A peer that vanishes without a word (power lost, a cable pulled, a NAT mapping dropped) sends no end of
// stream: an idle link would wait for it for ever and a talking one for the kernel's quarter of an hour
// of retransmissions. Quiet for kKeepAliveIdle, a socket is probed every kKeepAliveInterval, and
// kKeepAliveProbes unanswered probes, or data unacknowledged for kUserTimeout, end its connection.
inline constexpr int kKeepAliveIdle = 60;     // seconds
inline constexpr int kKeepAliveInterval = 10; // seconds
inline constexpr int kKeepAliveProbes = 6;
inline constexpr unsigned kUserTimeout =
    (kKeepAliveIdle + kKeepAliveInterval * kKeepAliveProbes) * 1000; // ms

// Sets those options on a TCP socket; sockets accepted from a listening socket inherit them. False when
// one cannot be set.
bool WatchForDeadPeer(int fd);

// Closes a descriptor, retrying nothing (close is never retried on Linux) and ignoring -1.
void CloseFd(int& fd);

// Raises the soft limit of open descriptors to the hard limit: each link holds two sockets and, while
// bytes are in flight, two pipes, so the usual 1024 would end at a few hundred links.
void RaiseDescriptorLimit();

} // namespace qv

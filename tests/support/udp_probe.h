#pragma once
// UDP on 127.0.0.1 and ::1 for the tests: sockets, an echo, and one datagram at a time.
#include "support/tcp_probe.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace qvtest {

// A UDP socket on the numeric address `host`: bound to `port` (0: any), connected to `peer` (host when
// null):peerPort when peerPort is given.
Fd UdpSocket(const char* host, int port = 0, int peerPort = 0, const char* peer = nullptr);

// One datagram from a connected socket, or nullopt when none came in time.
std::optional<std::string> ReceiveDatagram(int fd,
                                           std::chrono::milliseconds timeout = std::chrono::seconds(3));

// Sends every datagram back to where it came from, as it came, until destroyed.
class UdpEcho {
public:
    explicit UdpEcho(const char* host, int port = 0);
    ~UdpEcho();
    UdpEcho(const UdpEcho&) = delete;
    UdpEcho& operator=(const UdpEcho&) = delete;
    int Port() const { return port_; }

private:
    Fd fd_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace qvtest

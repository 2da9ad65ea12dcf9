#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// The program listening on a TCP port of this machine, as far as this user may see: found through
// /proc/net/tcp and /proc/net/tcp6 (the listening socket's inode) and /proc/*/fd (whose process holds
// it). A socket seen with no readable holder is another user's. With `udp`, the program bound to that UDP
// port (/proc/net/udp and udp6, sockets connected nowhere).
//
// Reading every descriptor of every process takes seconds on a busy host: the search runs on a thread of
// its own, and the caller waits for it at most `bound`. When that is reached first, the search is left
// to stop by itself and the answer is `outOfTime`: some program holds the port, which is not known.
struct PortHolder {
    long pid = 0;           // 0: another user's program, or not known
    std::string name;       // the process's command name
    bool outOfTime = false; // the bound was reached before the holder was found
};
constexpr std::chrono::milliseconds kPortHolderBound{250};
std::optional<PortHolder> FindPortHolder(int port, const std::string& procRoot = "/proc", bool udp = false,
                                         std::chrono::milliseconds bound = kPortHolderBound);

// Whether a UDP socket other than `fds` is bound to the very address and port of one of them (as
// /proc/net/udp and udp6 tell).
bool UdpPortShared(const std::vector<int>& fds, const std::string& procRoot = "/proc");

// This program's executable, links followed: what a capability has to be given to.
std::string OwnExecutable();

} // namespace qv

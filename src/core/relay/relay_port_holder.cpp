#include "core/relay/relay_port_holder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qv {

namespace {
constexpr const char* kListenState = "0A";
constexpr const char* kUnconnectedState = "07"; // a UDP socket bound and connected nowhere

// Inodes of the sockets listening on port, from one of the kernel's socket tables.
void ListeningInodes(const std::string& table, int port, std::vector<std::string>& inodes,
                     const char* listenState = kListenState) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line); // the heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode))
            continue;
        const auto colon = local.rfind(':');
        if (state != listenState || colon == std::string::npos)
            continue;
        if (std::strtol(local.c_str() + colon + 1, nullptr, 16) == port && inode != "0")
            inodes.push_back(inode);
    }
}

std::string ReadLink(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The process holding one of the sockets, among those whose descriptors this user may read.
std::optional<PortHolder> Holder(const std::string& procRoot, const std::vector<std::string>& inodes) {
    DIR* processes = ::opendir(procRoot.c_str());
    if (!processes)
        return std::nullopt;
    std::optional<PortHolder> found;
    while (const dirent* process = ::readdir(processes)) {
        char* end = nullptr;
        const long pid = std::strtol(process->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const std::string fdDir = procRoot + "/" + process->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue;
        while (const dirent* fd = ::readdir(fds)) {
            const std::string target = ReadLink(fdDir + "/" + fd->d_name);
            for (const std::string& inode : inodes)
                if (target == "socket:[" + inode + "]") {
                    std::ifstream comm(procRoot + "/" + process->d_name + "/comm");
                    PortHolder holder{pid, {}};
                    std::getline(comm, holder.name);
                    found = holder;
                }
            if (found)
                break;
        }
        ::closedir(fds);
        if (found)
            break;
    }
    ::closedir(processes);
    return found;
}
} // namespace

std::optional<PortHolder> FindPortHolder(int port, const std::string& procRoot, bool udp) {
    std::vector<std::string> inodes;
    const std::string table = procRoot + (udp ? "/net/udp" : "/net/tcp");
    const char* state = udp ? kUnconnectedState : kListenState;
    ListeningInodes(table, port, inodes, state);
    ListeningInodes(table + "6", port, inodes, state);
    if (inodes.empty())
        return std::nullopt;
    if (auto holder = Holder(procRoot, inodes))
        return holder;
    return PortHolder{};
}

bool UdpPortShared(const std::vector<int>& fds, const std::string& procRoot) {
    std::vector<std::string> ours;
    for (int fd : fds) {
        struct stat st {};
        if (::fstat(fd, &st) == 0)
            ours.push_back(std::to_string(st.st_ino));
    }
    // Local address and inode of every UDP socket.
    std::vector<std::pair<std::string, std::string>> sockets;
    for (const char* table : {"/net/udp", "/net/udp6"}) {
        std::ifstream in(procRoot + table);
        std::string line;
        std::getline(in, line); // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            if (fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode)
                sockets.emplace_back(local, inode);
        }
    }
    auto isOurs = [&ours](const std::string& inode) {
        return std::find(ours.begin(), ours.end(), inode) != ours.end();
    };
    for (const auto& [local, inode] : sockets)
        if (isOurs(inode))
            for (const auto& [otherLocal, otherInode] : sockets)
                if (otherLocal == local && !isOurs(otherInode))
                    return true;
    return false;
}

std::string OwnExecutable() {
    const std::string path = ReadLink("/proc/self/exe");
    return path.empty() ? std::string("quorvane") : path;
}

} // namespace qv

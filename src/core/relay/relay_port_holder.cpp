#include "core/relay/relay_port_holder.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <thread>
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

// The process holding one of the sockets, among those whose descriptors this user may read; it gives up
// once `abandoned` is set.
std::optional<PortHolder> Holder(const std::string& procRoot, const std::vector<std::string>& inodes,
                                 const std::atomic<bool>& abandoned) {
    DIR* processes = ::opendir(procRoot.c_str());
    if (!processes)
        return std::nullopt;
    std::optional<PortHolder> found;
    while (const dirent* process = ::readdir(processes)) {
        if (abandoned.load(std::memory_order_relaxed))
            break;
        char* end = nullptr;
        const long pid = std::strtol(process->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const std::string fdDir = procRoot + "/" + process->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue;
        while (const dirent* fd = ::readdir(fds)) {
            if (abandoned.load(std::memory_order_relaxed))
                break;
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

// Who holds the port, unless the search is abandoned first.
std::optional<PortHolder> Search(int port, const std::string& procRoot, bool udp,
                                 const std::atomic<bool>& abandoned) {
    std::vector<std::string> inodes;
    const std::string table = procRoot + (udp ? "/net/udp" : "/net/tcp");
    const char* state = udp ? kUnconnectedState : kListenState;
    ListeningInodes(table, port, inodes, state);
    ListeningInodes(table + "6", port, inodes, state);
    if (inodes.empty())
        return std::nullopt;
    if (auto holder = Holder(procRoot, inodes, abandoned))
        return holder;
    return PortHolder{};
}

// What the caller and the searching thread share; the last of them to let go frees it.
struct SharedSearch {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::optional<PortHolder> holder;
    std::atomic<bool> abandoned{false};
};
} // namespace

std::optional<PortHolder> FindPortHolder(int port, const std::string& procRoot, bool udp,
                                         std::chrono::milliseconds bound) {
    const PortHolder unknown{0, {}, true};
    auto shared = std::make_shared<SharedSearch>();
    std::thread searching;
    try {
        searching = std::thread([shared, port, procRoot, udp] {
            std::optional<PortHolder> holder;
            try {
                holder = Search(port, procRoot, udp, shared->abandoned);
            } catch (const std::exception&) {
                holder = PortHolder{0, {}, true};
            }
            std::lock_guard lock(shared->mutex);
            shared->holder = std::move(holder);
            shared->finished = true;
            shared->done.notify_one();
        });
    } catch (const std::system_error&) {
        return unknown; // no thread to search with
    }
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, bound, [&shared] { return shared->finished; })) {
        // A table that does not answer, or too many descriptors to read: the search stops at its next
        // step (or when the read it waits in returns) and frees what it shares on its way out.
        shared->abandoned = true;
        lock.unlock();
        searching.detach();
        return unknown;
    }
    lock.unlock();
    searching.join();
    return shared->holder;
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

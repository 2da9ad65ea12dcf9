#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv {

// Host-name lookups run on helper threads so that a link waiting for one can still be stopped; a lookup
// whose link has gone finishes on its own and its thread is joined later.
class TRelayResolvers {
public:
    TRelayResolvers() = default;
    ~TRelayResolvers(); // joins every lookup thread
    TRelayResolvers(const TRelayResolvers&) = delete;
    TRelayResolvers& operator=(const TRelayResolvers&) = delete;

    struct Lookup;
    // Starts a lookup of an IPv4 address for host; null when no thread could be started.
    std::shared_ptr<Lookup> Start(const std::string& host);
    // Joins the lookup threads that have finished.
    void Reap();

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex mutex_;
    std::vector<Entry> threads_;
};

// Opens a non-blocking TCP connection to host:port (dotted IPv4 or a name to look up). Gives up, returning
// -1, when the destination cannot be reached, or as soon as abortFd reports hang-up or an error or abort is
// set: a stop shuts the link's incoming socket down, which wakes the wait here.
int ConnectOutgoing(const std::string& host, int port, int abortFd, const std::atomic<bool>& abort,
                    TRelayResolvers& resolvers);

} // namespace qv

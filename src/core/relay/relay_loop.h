#pragma once
#include "core/relay/relay_bandwidth.h"
#include "core/relay/relay_connect.h"
#include "core/relay/relay_descriptors.h"
#include "core/relay/relay_figures.h"
#include "core/relay/relay_link_table.h"
#include "core/relay/relay_pipes.h"
#include "core/relay/relay_rules.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace qv {

class TRelayLink;
class TRelayListener;
class TRelayUdp;

// One thread of a listener: it accepts connections from the shared listening socket and runs their links
// to the end, waking only when one of its sockets has something to do. A thread for several links costs
// far less than a thread per link: no wake-up of another thread per connection, and one wait serves every
// link that is ready at the same time.
class TRelayLoop {
public:
    using Clock = std::chrono::steady_clock;

    // The TCP listening sockets are shared with the other loops; the UDP ones (none for a TCP mapping)
    // are this loop's alone.
    TRelayLoop(TRelayListener& listener, std::shared_ptr<const std::vector<int>> listenFds,
               std::vector<int> udpFds = {});
    ~TRelayLoop(); // joins the thread: call Stop first
    TRelayLoop(const TRelayLoop&) = delete;
    TRelayLoop& operator=(const TRelayLoop&) = delete;

    // Starts the thread; false (errno set) when it cannot.
    bool Start();
    // Asks the thread to stop accepting, end every link and leave; returns at once.
    void Stop();
    // The thread has left (it can be joined without waiting).
    bool Finished() const { return finished_.load(std::memory_order_acquire); }

    // Any thread: the figures of every link of this loop, added to `into`.
    void Snapshot(std::vector<RelayLinkFigures>& into) const;
    // Any thread: the link `id`, if it is one of this loop's, ends as a stop would end it.
    void RequestClose(std::uint64_t id);
    // Any thread: the thread wakes and looks at the listener's settings again (its bandwidth limits).
    void Wake();

    // For the links of this loop, on its thread.
    enum Role : std::uintptr_t { kIncoming = 0, kOutgoing = 1, kLookup = 2 };
    // The role of the loop's own entries (the wake-up, listening sockets, UDP), which no link has.
    static constexpr std::uint64_t kOwnRole = 3;
    bool WatchTag(int fd, std::uint32_t events, std::uint64_t tag);
    bool Watch(int fd, std::uint32_t events, TRelayLink& link, Role role);
    void Unwatch(int fd);
    void SetDeadline(TRelayLink& link, Clock::time_point when);
    void ClearDeadline(TRelayLink& link);
    void RunAgain(TRelayLink& link); // the link used up its turn: it goes on after the next wait
    void Remove(TRelayLink& link);   // leaves the list now, deleted once this turn is over
    // The address a link connects to (`reached`: and now relays to), for its figures.
    void SetDestination(TRelayLink& link, RelayAddress address, int port, bool reached = true);
    TRelayListener& Listener() { return listener_; }
    TRelayPipes& Pipes() { return pipes_; }
    // Whether the relay may keep a descriptor just opened for a link (see TRelayDescriptorCeiling).
    bool Allows(int fd) { return ceiling_.Allows(fd); }
    bool AllowsSession(int fd) { return ceiling_.AllowsSession(fd); }
    char* Scratch() { return scratch_.get(); } // one chunk, for copies that end within a turn
    // The listener's bandwidth limit of a direction as last fetched; null when there is none.
    TRelayBandwidth* Limit(bool up) const { return limits_[up ? 0 : 1]; }

    static constexpr int kMaxEvents = 64;

private:
    void Run();
    void Turn();
    void Accept(int listenFd);
    bool WatchListening();
    void UnwatchListening();
    // Starts a link whose place the listener's count already holds.
    void StartLink(int fd, const RelayAddress& client);
    // The access rules' verdict on a client just accepted: it is closed and reported when refused.
    bool Admit(int fd, const RelayAddress& client);
    void CloseRequested();
    // After a change of the access rules: the links and sessions they refuse end.
    void EndRefused();
    void PauseAccepting(Clock::time_point until);
    void ResumeAccepting(Clock::time_point now);
    void EndEverything();
    // Fetches the bandwidth limits when they changed, and hands them to every link.
    void RefreshLimits();
    int WaitMs() const;

    TRelayListener& listener_;
    std::shared_ptr<const std::vector<int>> listenFds_; // closed when the last loop lets go of them
    int epoll_ = -1;
    int wake_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};

    // The rest belongs to the loop's thread.
    bool accepting_ = false;
    bool stopping_ = false;
    Clock::time_point acceptPausedUntil_{};
    // A connection accepted into the reserve of descriptors, kept until its link fits below the ceiling.
    int parked_ = -1;
    RelayAddress parkedClient_; // as the accept gave it
    TRelayDescriptorCeiling ceiling_;
    // Changes to the table, and the destinations of its links, happen under this lock, so a snapshot
    // from another thread reads a table that holds still.
    mutable std::mutex figuresMutex_;
    TRelayLinkTable links_;
    std::shared_ptr<const RelayAccessRules> rules_; // the listener's, as last fetched
    std::uint64_t rulesSeen_ = ~std::uint64_t{0};
    std::uint64_t rulesChecked_ = 0; // the rules' generation the live links were last checked against
    // Kept here, so a link without a limit checks a pointer of its own and nothing shared.
    TRelayBandwidth* limits_[2] = {nullptr, nullptr};
    std::uint64_t limitsSeen_ = ~std::uint64_t{0};
    std::mutex closeMutex_;
    std::vector<std::uint64_t> closeRequests_;
    std::set<std::pair<Clock::time_point, TRelayLink*>> deadlines_;
    std::vector<TRelayLink*> again_;
    std::vector<TRelayLink*> running_; // the links of again_ being run, kept to spare an allocation
    std::vector<TRelayLink*> removed_;
    TRelayPipes pipes_{&ceiling_};
    std::unique_ptr<char[]> scratch_;
    std::vector<int> udpFds_;        // until Start hands them to udp_
    std::unique_ptr<TRelayUdp> udp_; // null for a TCP mapping
};

} // namespace qv

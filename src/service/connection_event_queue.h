#pragma once

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <unordered_map>

#include "core/relay/relay_figures.h"

namespace qv {

// One connection accepted or closed on relay listener 1 to 7; a closed one comes with the figures
// it ended with, an accepted one with those it started with (its id). A client refused by the
// mapping's rules was never connected: `refused`, with its figures, and no event before or after.
//
// A folded event stands for events that were not listed one by one, counted only: links that opened
// and closed while both their events waited in a full queue, and refused clients (a full queue's, and
// those the relay counted beyond its reports).
struct ConnectionEvent {
    int listener;
    bool connected;
    RelayLinkFigures ended{};
    bool refused = false;
    bool folded = false;
    std::uint64_t foldedLinks = 0;
    std::uint64_t foldedRefusals = 0;
};

// Carries connection events from the link threads to the user-interface thread, in order. Posting
// never waits for the user-interface thread; the events are applied there, in batches that leave the
// event loop free to repaint and run timers between them.
//
// A user-interface thread that falls behind (a slow journal under a flood) must not make the queue
// grow without end: past kMostWaiting, refusals and links whose accept still waits along with their
// close are folded into one counting event per listener. An accept or close whose partner was already
// applied is always listed, so the counts of open connections stay right; the queue is bounded by
// kMostWaiting and the links that are open.
class TConnectionEventQueue : public QObject {
    Q_OBJECT
public:
    explicit TConnectionEventQueue(std::function<void(const ConnectionEvent&)> apply,
                                   QObject* parent = nullptr);

    // Any thread.
    void Post(ConnectionEvent event);
    // Events waiting now, and the most that ever waited at once.
    std::size_t Length() const;
    std::size_t PeakLength() const;

    // User-interface thread, from the event loop: applies events for at most kSliceTime, then lets the
    // event loop run before it goes on.
    void Drain();
    // User-interface thread: applies the events queued at the moment of the call.
    void DrainQueued();
    // User-interface thread, while it is blocked in a listener stop: applies events as they come
    // for `wait`, so the stopping links' disconnections are counted while the stop waits for them.
    void DrainFor(std::chrono::milliseconds wait);

    static constexpr std::size_t kBatch = 64;
    static constexpr std::size_t kMostWaiting = 8192;
    static constexpr std::chrono::milliseconds kSliceTime{10};

private:
    // Applies up to `most` events; true when more are waiting.
    bool ApplyBatch(std::size_t most);
    // Under the mutex: counts `event` into its listener's folded event instead of listing it; false
    // when it is to be listed.
    bool Fold(const ConnectionEvent& event);
    static std::uint64_t LinkKey(const ConnectionEvent& event);

    std::function<void(const ConnectionEvent&)> apply_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::map<std::uint64_t, ConnectionEvent> events_; // by the order they came in
    std::uint64_t nextOrder_ = 1;
    std::unordered_map<std::uint64_t, std::uint64_t> waitingAccepts_; // link: the order of its accept
    std::unordered_map<int, std::uint64_t> foldedAt_;                 // listener: its folded event
    std::size_t peak_ = 0;
    bool drainScheduled_ = false;
};

class TRelayListener;

// Hands a listener's connection events to the queue under its number, and lets its stop keep
// applying them while it waits for its links.
void AttachListener(TRelayListener& listener, int number, int stopWaitMs, TConnectionEventQueue& events);
// Stops the listeners together; when it returns, every disconnection of their links has been applied.
void StopListeners(std::span<TRelayListener* const> listeners, TConnectionEventQueue& events);

} // namespace qv

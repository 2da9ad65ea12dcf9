#pragma once

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <span>

#include "core/relay/relay_figures.h"

namespace qv {

// One connection accepted or closed on relay listener 1 to 7; a closed one comes with the figures
// it ended with. A client refused by the mapping's rules was never connected: `refused`, with its
// figures, and no event before or after.
struct ConnectionEvent {
    int listener;
    bool connected;
    RelayLinkFigures ended{};
    bool refused = false;
};

// Carries connection events from the link threads to the user-interface thread, in order. Posting
// never waits for the user-interface thread; the events are applied there, in batches that leave the
// event loop free to repaint and run timers between them.
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
    static constexpr std::chrono::milliseconds kSliceTime{10};

private:
    // Applies up to `most` events; true when more are waiting.
    bool ApplyBatch(std::size_t most);

    std::function<void(const ConnectionEvent&)> apply_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<ConnectionEvent> events_;
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

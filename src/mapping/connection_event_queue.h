#pragma once

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace qv {

// One connection accepted or closed on relay listener 1 to 7.
struct ConnectionEvent {
    int listener;
    bool connected;
};

// Carries connection events from the link threads to the user-interface thread, in order. Posting
// never waits for the user-interface thread; the events are applied there one at a time.
class TConnectionEventQueue : public QObject {
    Q_OBJECT
public:
    explicit TConnectionEventQueue(std::function<void(const ConnectionEvent&)> apply, QObject* parent = nullptr);

    // Any thread.
    void Post(ConnectionEvent event);
    // User-interface thread: applies every event queued so far.
    void Drain();
    // User-interface thread, while it is blocked in a listener stop: applies events as they come
    // for `wait`, so the stopping links' disconnections are counted while the stop waits for them.
    void DrainFor(std::chrono::milliseconds wait);

private:
    bool TakeOne(ConnectionEvent& event);

    std::function<void(const ConnectionEvent&)> apply_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<ConnectionEvent> events_;
    bool drainScheduled_ = false;
};

class TRelayListener;

// Hands a listener's connection events to the queue under its number, and lets its stop keep
// applying them while it waits for its links.
void AttachListener(TRelayListener& listener, int number, int stopWaitMs, TConnectionEventQueue& events);
// Stops the listener; when it returns, every disconnection of its links has been applied.
void StopListener(TRelayListener& listener, TConnectionEventQueue& events);

} // namespace qv

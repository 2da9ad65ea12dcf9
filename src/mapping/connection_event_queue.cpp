#include "mapping/connection_event_queue.h"

#include "core/relay/relay_listener.h"

namespace qv {

TConnectionEventQueue::TConnectionEventQueue(std::function<void(const ConnectionEvent&)> apply,
                                             QObject* parent)
    : QObject(parent), apply_(std::move(apply)) {}

void TConnectionEventQueue::Post(ConnectionEvent event) {
    bool schedule = false;
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        schedule = !drainScheduled_;
        drainScheduled_ = true;
    }
    posted_.notify_all();
    // One queued call covers every event posted until it runs.
    if (schedule)
        QMetaObject::invokeMethod(this, &TConnectionEventQueue::Drain, Qt::QueuedConnection);
}

bool TConnectionEventQueue::TakeOne(ConnectionEvent& event) {
    std::lock_guard lock(mutex_);
    if (events_.empty()) {
        drainScheduled_ = false;
        return false;
    }
    event = events_.front();
    events_.pop_front();
    return true;
}

void TConnectionEventQueue::Drain() {
    ConnectionEvent event{};
    while (TakeOne(event))
        apply_(event);
}

void TConnectionEventQueue::DrainFor(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        Drain();
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [this] { return !events_.empty(); }))
            return;
    }
}

void AttachListener(TRelayListener& listener, int number, int stopWaitMs, TConnectionEventQueue& events) {
    // Link threads only post; the user-interface thread applies the events in order.
    listener.SetTerminateWaitTime(stopWaitMs);
    listener.OnConnect = [&events, number](TRelayLink&) { events.Post({number, true}); };
    listener.OnDisconnect = [&events, number](TRelayLink&) { events.Post({number, false}); };
    listener.StopWaitStep = [&events](std::chrono::milliseconds step) { events.DrainFor(step); };
}

void StopListener(TRelayListener& listener, TConnectionEventQueue& events) {
    listener.SetActive(false);
    // Links that ended during the last wait step posted their disconnections after it.
    events.Drain();
}

} // namespace qv

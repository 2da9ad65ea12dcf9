#include "service/connection_event_queue.h"

#include "core/relay/relay_listener.h"

#include <vector>

namespace qv {

TConnectionEventQueue::TConnectionEventQueue(std::function<void(const ConnectionEvent&)> apply,
                                             QObject* parent)
    : QObject(parent), apply_(std::move(apply)) {}

void TConnectionEventQueue::Post(ConnectionEvent event) {
    bool schedule = false;
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        peak_ = std::max(peak_, events_.size());
        schedule = !drainScheduled_;
        drainScheduled_ = true;
    }
    posted_.notify_all();
    // One queued call covers every event posted until it runs.
    if (schedule)
        QMetaObject::invokeMethod(this, &TConnectionEventQueue::Drain, Qt::QueuedConnection);
}

std::size_t TConnectionEventQueue::Length() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

std::size_t TConnectionEventQueue::PeakLength() const {
    std::lock_guard lock(mutex_);
    return peak_;
}

bool TConnectionEventQueue::ApplyBatch(std::size_t most) {
    std::vector<ConnectionEvent> batch;
    bool more = false;
    {
        std::lock_guard lock(mutex_);
        const std::size_t n = std::min(most, events_.size());
        batch.assign(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(n));
        events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(n));
        more = !events_.empty();
        if (!more)
            drainScheduled_ = false;
    }
    for (const ConnectionEvent& event : batch) {
        try {
            apply_(event);
        } catch (...) {
            // One event that fails to apply must not strand the ones behind it.
        }
    }
    return more;
}

void TConnectionEventQueue::Drain() {
    // A flood is applied a slice at a time: the window repaints and its timers tick in between.
    const auto deadline = std::chrono::steady_clock::now() + kSliceTime;
    bool more = true;
    while (more && std::chrono::steady_clock::now() < deadline)
        more = ApplyBatch(kBatch);
    if (more)
        QMetaObject::invokeMethod(this, &TConnectionEventQueue::Drain, Qt::QueuedConnection);
}

void TConnectionEventQueue::DrainQueued() {
    std::size_t left = Length();
    while (left > 0) {
        const std::size_t n = std::min(left, kBatch);
        ApplyBatch(n);
        left -= n;
    }
}

void TConnectionEventQueue::DrainFor(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        while (std::chrono::steady_clock::now() < deadline && ApplyBatch(kBatch)) {
        }
        // Past the deadline the wait below would find the events still queued and return at once, for
        // ever: what is left goes to the queued Drain.
        std::unique_lock lock(mutex_);
        if (std::chrono::steady_clock::now() >= deadline ||
            !posted_.wait_until(lock, deadline, [this] { return !events_.empty(); }))
            return;
    }
}

void AttachListener(TRelayListener& listener, int number, int stopWaitMs, TConnectionEventQueue& events) {
    // Relay threads only post; the user-interface thread applies the events in order.
    listener.SetTerminateWaitTime(stopWaitMs);
    listener.OnConnect = [&events, number](const RelayLinkFigures&) { events.Post({number, true}); };
    listener.OnDisconnect = [&events, number](const RelayLinkFigures& figures) {
        events.Post({number, false, figures});
    };
    listener.OnRefused = [&events, number](const RelayLinkFigures& figures) {
        events.Post({number, false, figures, true});
    };
    listener.StopWaitStep = [&events](std::chrono::milliseconds step) { events.DrainFor(step); };
}

void StopListeners(std::span<TRelayListener* const> listeners, TConnectionEventQueue& events) {
    TRelayListener::StopTogether(listeners);
    // Links that ended during the last wait step posted their disconnections after it.
    events.DrainQueued();
}

} // namespace qv

#include "service/connection_event_queue.h"

#include "core/relay/relay_listener.h"

#include <vector>

namespace qv {

TConnectionEventQueue::TConnectionEventQueue(std::function<void(const ConnectionEvent&)> apply,
                                             QObject* parent)
    : QObject(parent), apply_(std::move(apply)) {}

std::uint64_t TConnectionEventQueue::LinkKey(const ConnectionEvent& event) {
    // Link ids are unique within a listener and stay far below 2^56.
    return static_cast<std::uint64_t>(event.listener) << 56 ^ event.ended.id;
}

bool TConnectionEventQueue::Fold(const ConnectionEvent& event) {
    std::uint64_t links = 0;
    std::uint64_t refusals = 0;
    if (event.folded) {
        links = event.foldedLinks;
        refusals = event.foldedRefusals;
    } else if (events_.size() < kMostWaiting || event.connected) {
        return false;
    } else if (event.refused) {
        refusals = 1;
    } else {
        // Only a close whose accept waits too: the pair goes as one link opened and closed.
        const auto accept =
            event.ended.id != 0 ? waitingAccepts_.find(LinkKey(event)) : waitingAccepts_.end();
        if (accept == waitingAccepts_.end())
            return false;
        events_.erase(accept->second);
        waitingAccepts_.erase(accept);
        links = 1;
    }
    auto at = foldedAt_.find(event.listener);
    if (at == foldedAt_.end()) {
        at = foldedAt_.emplace(event.listener, nextOrder_).first;
        ConnectionEvent& folded = events_[nextOrder_++];
        folded.listener = event.listener;
        folded.folded = true;
    }
    ConnectionEvent& folded = events_.at(at->second);
    folded.foldedLinks += links;
    folded.foldedRefusals += refusals;
    return true;
}

void TConnectionEventQueue::Post(ConnectionEvent event) {
    bool schedule = false;
    {
        std::lock_guard lock(mutex_);
        if (!Fold(event)) {
            if (event.connected && event.ended.id != 0)
                waitingAccepts_[LinkKey(event)] = nextOrder_;
            events_.emplace_hint(events_.end(), nextOrder_++, std::move(event));
        }
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
        batch.reserve(std::min(most, events_.size()));
        for (auto it = events_.begin(); it != events_.end() && batch.size() < most; it = events_.erase(it)) {
            const ConnectionEvent& event = it->second;
            if (event.folded)
                foldedAt_.erase(event.listener);
            else if (event.connected && event.ended.id != 0)
                waitingAccepts_.erase(LinkKey(event));
            batch.push_back(event);
        }
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
    listener.OnConnect = [&events, number](const RelayLinkFigures& figures) {
        events.Post({number, true, figures});
    };
    listener.OnDisconnect = [&events, number](const RelayLinkFigures& figures) {
        events.Post({number, false, figures});
    };
    listener.OnRefused = [&events, number](const RelayLinkFigures& figures) {
        events.Post({number, false, figures, true});
    };
    listener.OnMoreRefused = [&events, number](std::uint64_t refused) {
        events.Post({number, false, {}, true, true, 0, refused});
    };
    listener.StopWaitStep = [&events](std::chrono::milliseconds step) { events.DrainFor(step); };
}

void StopListeners(std::span<TRelayListener* const> listeners, TConnectionEventQueue& events) {
    TRelayListener::StopTogether(listeners);
    // Links that ended during the last wait step posted their disconnections after it.
    events.DrainQueued();
}

} // namespace qv

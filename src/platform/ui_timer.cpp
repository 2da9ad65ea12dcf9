#include "platform/ui_timer.h"

namespace qv {

UiTimer::UiTimer(const QString& name, int intervalMs, QObject* parent)
    : QObject(parent), interval_(intervalMs) {
    setObjectName(name);
    // The program's delays are exact to the tick, not within a coarse timer's 5 per cent.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &UiTimer::Tick);
}

void UiTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    Sync();
}

void UiTimer::SetInterval(int intervalMs) {
    if (intervalMs == interval_)
        return;
    interval_ = intervalMs;
    Sync();
}

void UiTimer::Sync() {
    timer_.stop();
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);
}

} // namespace qv

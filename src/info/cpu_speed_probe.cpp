#include "info/cpu_speed_probe.h"

#include "platform/platform.h"

namespace qv {

namespace {
constexpr auto kSpan = std::chrono::milliseconds(500);
}

double EstimateMhz(std::uint64_t before, std::uint64_t after, std::chrono::nanoseconds elapsed) {
    if (elapsed.count() <= 0)
        return 0;
    // Unsigned difference: right even across a wrap of the counter itself.
    return static_cast<double>(after - before) * 1000.0 / static_cast<double>(elapsed.count());
}

CpuSpeedProbe::CpuSpeedProbe(const Platform& platform, std::function<void(std::optional<double>)> done,
                             QObject* parent)
    : QObject(parent), platform_(platform), done_(std::move(done)) {
    thread_ = std::thread([this] { Measure(); });
}

CpuSpeedProbe::~CpuSpeedProbe() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    // A report already posted is dropped with this object's pending events.
}

void CpuSpeedProbe::Measure() {
    const std::optional<std::uint64_t> before = platform_.CycleCounter();
    const auto start = std::chrono::steady_clock::now();
    if (!before) {
        Report(std::nullopt);
        return;
    }
    {
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, kSpan, [this] { return stop_; }))
            return;
    }
    const std::optional<std::uint64_t> after = platform_.CycleCounter();
    const auto end = std::chrono::steady_clock::now();
    Report(after ? std::optional<double>(EstimateMhz(*before, *after, end - start)) : std::nullopt);
}

void CpuSpeedProbe::Report(std::optional<double> mhz) {
    {
        std::lock_guard lock(mutex_);
        result_ = mhz;
    }
    // The figure travels under the lock, where race checkers see it; the queued call only wakes.
    QMetaObject::invokeMethod(this, &CpuSpeedProbe::Deliver, Qt::QueuedConnection);
}

void CpuSpeedProbe::Deliver() {
    std::optional<double> mhz;
    {
        std::lock_guard lock(mutex_);
        mhz = result_;
    }
    done_(mhz);
}

} // namespace qv

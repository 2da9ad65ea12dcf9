#pragma once

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace qv {

class Platform;

// Counter ticks per microsecond: the whole 64-bit difference over the time it took.
double EstimateMhz(std::uint64_t before, std::uint64_t after, std::chrono::nanoseconds elapsed);

// Estimates the processor's clock once, on a thread of its own, from the cycle counter over half
// a second of the steady clock. Nothing waits for it and no priority is raised: the two readings
// are timed by the clock, so a late wake-up does not skew the figure.
class CpuSpeedProbe : public QObject {
public:
    // done runs on the owner's thread with the estimate in MHz, or nullopt without a counter.
    CpuSpeedProbe(const Platform& platform, std::function<void(std::optional<double>)> done, QObject* parent);
    // Cuts the measurement short when it is still running; done is then never called.
    ~CpuSpeedProbe() override;

private:
    void Measure();
    void Report(std::optional<double> mhz);
    void Deliver();

    const Platform& platform_;
    std::function<void(std::optional<double>)> done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::optional<double> result_;
    std::thread thread_;
};

} // namespace qv

#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace qv {

// Threads with small fixed stacks that run one job each at a time. A thread that has finished its job
// waits a little for the next one, which saves creating a thread per connection; idle threads end after
// a while or when idling is switched off. Every thread is joined: by Reap(), or at the latest by the
// destructor, which waits for running jobs to finish.
class TRelayWorkers {
public:
    using JobFn = void (*)(void*);

    TRelayWorkers();
    ~TRelayWorkers();
    TRelayWorkers(const TRelayWorkers&) = delete;
    TRelayWorkers& operator=(const TRelayWorkers&) = delete;

    // Hands the job to an idle thread or a new one; false when no thread could be had (job not run).
    bool Run(JobFn fn, void* arg);
    // Off: idle threads end now and finished jobs end their thread instead of waiting for another.
    void SetIdling(bool on);
    // Joins the threads that have ended.
    void Reap();
    // Number of threads started and not yet joined.
    std::size_t ThreadCount() const;

    static constexpr std::size_t kStackSize =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        1024 * 1024;
#else
        128 * 1024;
#endif
    static constexpr std::chrono::milliseconds kIdleTime{3000};
    static constexpr std::size_t kMaxIdle = 256;

private:
    struct Worker;
    static void* ThreadMain(void* self);
    void Loop(Worker& w);

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::vector<Worker*> idle_;     // most recently idle last: its stack is still warm
    std::vector<Worker*> finished_; // ended, waiting to be joined
    std::size_t live_ = 0;          // started and not yet joined
    bool idling_ = true;
};

} // namespace qv

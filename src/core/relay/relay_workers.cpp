#include "core/relay/relay_workers.h"

#include <algorithm>
#include <csignal>

namespace qv {

struct TRelayWorkers::Worker {
    TRelayWorkers* pool = nullptr;
    pthread_t thread{};
    std::condition_variable wake;
    JobFn fn = nullptr;
    void* arg = nullptr;
    bool quit = false;
};

TRelayWorkers::TRelayWorkers() = default;

TRelayWorkers::~TRelayWorkers() {
    SetIdling(false);
    std::vector<Worker*> done;
    {
        std::unique_lock lock(mutex_);
        // Every thread ends by itself once its job is over: sockets are closed by then.
        ended_.wait(lock, [this] { return finished_.size() == live_; });
        done.swap(finished_);
        live_ = 0;
    }
    for (Worker* w : done) {
        pthread_join(w->thread, nullptr);
        delete w;
    }
}

bool TRelayWorkers::Run(JobFn fn, void* arg) {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            Worker* w = idle_.back();
            idle_.pop_back();
            w->fn = fn;
            w->arg = arg;
            w->wake.notify_one();
            return true;
        }
    }
    Worker* w = new (std::nothrow) Worker;
    if (!w)
        return false;
    w->pool = this;
    w->fn = fn;
    w->arg = arg;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        delete w;
        return false;
    }
    pthread_attr_setstacksize(&attr, kStackSize);
    // Relay threads take no signals: SIGINT and friends belong to the main thread, and a SIGPIPE raised
    // by a write to a closed peer stays blocked here instead of ending the process.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    {
        std::lock_guard lock(mutex_);
        ++live_;
    }
    int rc = pthread_create(&w->thread, &attr, &ThreadMain, w);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        std::lock_guard lock(mutex_);
        --live_;
        ended_.notify_all();
        delete w;
        return false;
    }
    return true;
}

void* TRelayWorkers::ThreadMain(void* self) {
    auto* w = static_cast<Worker*>(self);
    w->pool->Loop(*w);
    return nullptr;
}

void TRelayWorkers::Loop(Worker& w) {
    std::unique_lock lock(mutex_);
    for (;;) {
        JobFn fn = w.fn;
        void* arg = w.arg;
        w.fn = nullptr;
        lock.unlock();
        fn(arg);
        lock.lock();
        if (!idling_ || idle_.size() >= kMaxIdle)
            break;
        idle_.push_back(&w);
        w.wake.wait_for(lock, kIdleTime, [&w] { return w.fn != nullptr || w.quit; });
        if (w.fn)
            continue; // Run() has taken it off the idle list
        idle_.erase(std::find(idle_.begin(), idle_.end(), &w));
        break;
    }
    finished_.push_back(&w);
    ended_.notify_all();
}

void TRelayWorkers::SetIdling(bool on) {
    std::lock_guard lock(mutex_);
    idling_ = on;
    if (!on)
        for (Worker* w : idle_) {
            w->quit = true;
            w->wake.notify_one();
        }
}

void TRelayWorkers::Reap() {
    std::vector<Worker*> done;
    {
        std::lock_guard lock(mutex_);
        done.swap(finished_);
        live_ -= done.size();
    }
    for (Worker* w : done) {
        pthread_join(w->thread, nullptr);
        delete w;
    }
}

std::size_t TRelayWorkers::ThreadCount() const {
    std::lock_guard lock(mutex_);
    return live_;
}

} // namespace qv

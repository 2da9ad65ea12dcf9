#include "platform/termination_signals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace qv {

namespace {
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may only write to a pipe; the notifier turns that into a call on the event loop.
// The pipe is made once and never closed: a handler can run on any thread at any moment, also
// while the object that installed it is being destroyed, so its descriptor must stay valid for
// the life of the process. The handler reads the write end through a lock-free atomic.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> wakeWriteEnd{-1};
int wakeReadEnd = -1;

bool OpenWakePipe() {
    if (wakeReadEnd >= 0)
        return true;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    wakeReadEnd = ends[0];
    wakeWriteEnd.store(ends[1]);
    return true;
}

// Which signals came since the last drain.
struct Caught {
    bool end = false;
    bool hangUp = false;
};

Caught DrainWakePipe() {
    Caught received;
    char bytes[16];
    for (ssize_t n; (n = ::read(wakeReadEnd, bytes, sizeof bytes)) > 0;)
        for (ssize_t i = 0; i < n; ++i)
            (bytes[i] == SIGHUP ? received.hangUp : received.end) = true;
    return received;
}

void OnSignal(int signal) {
    // The interrupted code may be about to read errno.
    const int savedErrno = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(wakeWriteEnd.load(), &byte, 1);
    errno = savedErrno;
}
} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onEnd, std::function<void()> onReload,
                                       QObject* parent)
    : QObject(parent), onEnd_(std::move(onEnd)), onReload_(std::move(onReload)) {
    if (!OpenWakePipe())
        return;
    // Wake-ups left from an earlier handler object are not this one's signals.
    DrainWakePipe();
    notifier_ = new QSocketNotifier(wakeReadEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Received);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    // The orderly end runs on after this (listeners stop, the closing line is written): a repeated
    // signal must not cut it short.
    for (int signal : kSignals)
        std::signal(signal, SIG_IGN);
}

void TerminationSignals::Received() {
    const auto [end, hangUp] = DrainWakePipe();
    if (hangUp && onReload_ && !end && !ending_)
        return onReload_();
    // Repeats are ignored once the end has begun.
    if (!(end || hangUp) || std::exchange(ending_, true))
        return;
    onEnd_();
}

} // namespace qv

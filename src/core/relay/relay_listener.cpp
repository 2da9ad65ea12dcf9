#include "core/relay/relay_listener.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <exception>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace qv {

TRelayListener::TRelayListener() = default;

TRelayListener::~TRelayListener() {
    try {
        SetActive(false);
    } catch (...) {
        // A wait step that failed: the listener has stopped all the same.
    }
}

void TRelayListener::SetMappedHost(std::string host) {
    std::lock_guard lock(hostMutex_);
    mappedHost_ = std::move(host);
}

std::string TRelayListener::MappedHost() const {
    std::lock_guard lock(hostMutex_);
    return mappedHost_;
}

void TRelayListener::SetActive(bool active) {
    if (!active) {
        TRelayListener* self = this;
        StopTogether({&self, 1});
        return;
    }
    std::lock_guard lock(controlMutex_);
    if (!active_.load())
        Start();
}

void TRelayListener::StopTogether(std::span<TRelayListener* const> listeners) {
    // Every listener is told first, so their links close at the same time and one wait covers them all;
    // each listener is still waited for no longer than its own TerminateWaitTime.
    std::vector<std::unique_lock<std::mutex>> locks;
    std::vector<TRelayListener*> stopping;
    for (TRelayListener* listener : listeners) {
        locks.emplace_back(listener->controlMutex_);
        if (!listener->active_.load())
            continue;
        listener->BeginStop();
        stopping.push_back(listener);
    }
    std::exception_ptr failure;
    std::vector<int> stepsLeft;
    for (TRelayListener* listener : stopping)
        stepsLeft.push_back(
            std::max(1, listener->terminateWaitTime_.load() / static_cast<int>(kStopStep.count())));
    // The lists are first looked at after the first step, so a stop always takes one step.
    for (bool waiting = !stopping.empty(); waiting;) {
        try {
            if (!failure && stopping.front()->StopWaitStep)
                stopping.front()->StopWaitStep(kStopStep);
            else
                std::this_thread::sleep_for(kStopStep);
        } catch (...) {
            // The stop goes on regardless: a half-done stop would leave a listener marked active.
            failure = std::current_exception();
        }
        waiting = false;
        for (std::size_t i = 0; i < stopping.size(); ++i) {
            if (stepsLeft[i] > 0 && (--stepsLeft[i] == 0 || stopping[i]->LinksEmpty()))
                stepsLeft[i] = 0;
            waiting = waiting || stepsLeft[i] > 0;
        }
    }
    for (TRelayListener* listener : stopping)
        listener->FinishStop();
    if (failure)
        std::rethrow_exception(failure);
}

void TRelayListener::Start() {
    // The endpoint's port sticks once a start has succeeded; until then DefaultPort is taken afresh.
    int port = endpointPort_.load();
    int fd = OpenListeningSocket(port != 0 ? port : defaultPort_.load());
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        int error = errno;
        CloseFd(fd);
        throw RelayError(SocketErrorText(error));
    }
    stopping_.store(false);
    workers_.SetIdling(true);
    listenFd_ = fd;
    wakeFd_ = wake;
    {
        std::lock_guard lock(acceptMutex_);
        acceptors_ = 1;
    }
    if (!workers_.Run(&TRelayListener::AcceptTurn, this)) {
        {
            std::lock_guard lock(acceptMutex_);
            acceptors_ = 0;
        }
        CloseFd(listenFd_);
        CloseFd(wakeFd_);
        throw RelayError(SocketErrorText(EAGAIN));
    }
    if (port == 0)
        endpointPort_.store(BoundPort(fd));
    active_.store(true);
}

void TRelayListener::BeginStop() {
    stopping_.store(true);
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    {
        // The eventfd stays readable: every thread that takes the accepting turn from now on sees it.
        std::unique_lock lock(acceptMutex_);
        acceptDone_.wait(lock, [this] { return acceptors_ == 0; });
    }
    CloseFd(listenFd_);
    CloseFd(wakeFd_);
    {
        // Links close their incoming socket only after leaving the list, so every descriptor seen here is
        // still theirs. A shutdown rather than a close wakes the link wherever it waits.
        std::lock_guard lock(linksMutex_);
        for (TRelayLink* link = links_; link; link = link->next_) {
            link->closing_.store(true);
            ::shutdown(link->inFd_, SHUT_RDWR);
            if (int out = link->outFd_.load(); out >= 0)
                ::shutdown(out, SHUT_RDWR);
        }
    }
    workers_.SetIdling(false);
}

void TRelayListener::FinishStop() {
    // Links that outlive the wait end by themselves; the destructor joins their threads.
    workers_.Reap();
    active_.store(false);
}

void TRelayListener::AcceptTurn(void* self) {
    static_cast<TRelayListener*>(self)->Accept();
}

// The accepting turn passes from thread to thread: the thread that has accepted a connection hands the
// turn to another and serves the connection itself, so a new link never waits for a thread to wake.
void TRelayListener::Accept() {
    for (;;) {
        TRelayLink* link = nullptr;
        while (!link && !stopping_.load()) {
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                link = NewLink(fd);
            } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors or memory: the queued connection stays readable; give links time to
                // end rather than spinning on it.
                pollfd w{wakeFd_, POLLIN, 0};
                ::poll(&w, 1, kExhaustedWaitMs);
            } else if (errno != EINTR && errno != ECONNABORTED) {
                pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
                ::poll(p, 2, kAcceptWaitMs);
                workers_.Reap();
            }
        }
        if (link) {
            // Connections that arrived together go to threads of their own at once, rather than each
            // waiting for the accepting turn to reach a thread.
            for (int more = 0; more < kAcceptBurst && !stopping_.load(); ++more) {
                int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                if (TRelayLink* other = NewLink(fd); other && !workers_.Run(&TRelayLink::Run, other)) {
                    Unlink(*other);
                    delete other;
                }
            }
            {
                std::lock_guard lock(acceptMutex_);
                ++acceptors_;
            }
            if (!workers_.Run(&TRelayListener::AcceptTurn, this)) {
                // No thread for the next turn: this one goes on accepting, and the connection is closed
                // at once, raising no event.
                {
                    std::lock_guard lock(acceptMutex_);
                    --acceptors_;
                }
                Unlink(*link);
                delete link;
                continue;
            }
        }
        {
            std::lock_guard lock(acceptMutex_);
            --acceptors_;
            acceptDone_.notify_all();
        }
        if (link)
            TRelayLink::Run(link);
        return;
    }
}

TRelayLink* TRelayListener::NewLink(int fd) {
    TRelayLink* link = new (std::nothrow) TRelayLink(*this, fd);
    if (!link) {
        ::close(fd);
        return nullptr;
    }
    std::lock_guard lock(linksMutex_);
    link->next_ = links_;
    if (links_)
        links_->prev_ = link;
    links_ = link;
    return link;
}

void TRelayListener::Unlink(TRelayLink& link) {
    std::lock_guard lock(linksMutex_);
    if (link.prev_)
        link.prev_->next_ = link.next_;
    else
        links_ = link.next_;
    if (link.next_)
        link.next_->prev_ = link.prev_;
}

void TRelayListener::RemoveLink(TRelayLink& link) {
    Unlink(link);
    link.CloseIncoming();
}

bool TRelayListener::LinksEmpty() const {
    std::lock_guard lock(linksMutex_);
    return links_ == nullptr;
}

} // namespace qv

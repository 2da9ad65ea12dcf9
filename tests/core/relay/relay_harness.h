#pragma once
// Shared pieces of the relay engine's tests: an event recorder and a listener started on a free port.
#include "core/relay/relay_listener.h"
#include "support/echo_server.h"
#include "support/tcp_probe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

namespace qvtest {

using namespace std::chrono_literals;

// Records every event of a listener, in order, with the link it came with.
class EventLog {
public:
    void Attach(qv::TRelayListener& listener) {
        listener.OnConnect = [this](const qv::RelayLinkFigures& link) { Add('C', link); };
        listener.OnDisconnect = [this](const qv::RelayLinkFigures& link) {
            {
                std::lock_guard lock(mutex_);
                ended_.push_back(link);
            }
            Add('D', link);
        };
    }
    void Add(char kind, const qv::RelayLinkFigures& link) {
        std::lock_guard lock(mutex_);
        events_.push_back({kind, link.id});
        (kind == 'C' ? connects_ : disconnects_)++;
    }
    // The figures each link ended with, in the order they ended.
    std::vector<qv::RelayLinkFigures> Ended() const {
        std::lock_guard lock(mutex_);
        return ended_;
    }
    int Connects() const { return connects_.load(); }
    int Disconnects() const { return disconnects_.load(); }

    // Every link raised one connect and then one disconnect, in that order.
    ::testing::AssertionResult Paired() const {
        std::lock_guard lock(mutex_);
        std::map<std::uint64_t, char> last;
        for (const Event& e : events_) {
            char before = last.count(e.link) ? last[e.link] : 'D';
            if (before == e.kind)
                return ::testing::AssertionFailure() << "two '" << e.kind << "' events in a row for one link";
            last[e.link] = e.kind;
        }
        for (auto& [link, kind] : last)
            if (kind != 'D')
                return ::testing::AssertionFailure() << "a link raised no disconnect";
        return ::testing::AssertionSuccess();
    }

private:
    struct Event {
        char kind;
        std::uint64_t link;
    };
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::vector<qv::RelayLinkFigures> ended_;
    std::atomic<int> connects_{0};
    std::atomic<int> disconnects_{0};
};

// Counts the stop's wait steps and sleeps them short, so stops are quick to test and their length is
// measured in steps rather than in time.
struct StepCounter {
    std::atomic<int> steps{0};
    void Attach(qv::TRelayListener& listener) {
        listener.StopWaitStep = [this](std::chrono::milliseconds) {
            ++steps;
            std::this_thread::sleep_for(20ms);
        };
    }
};

// Starts a listener on a free port relaying to 127.0.0.1:destPort, with events recorded.
inline void StartRelay(qv::TRelayListener& listener, EventLog& log, int destPort,
                       const std::string& host = "127.0.0.1") {
    log.Attach(listener);
    listener.SetDefaultPort(FreePort());
    listener.SetMappedHost(host);
    listener.SetMappedPort(destPort);
    listener.SetActive(true);
}

} // namespace qvtest

// Stopping a listener: its wait, the links it closes, and what is left behind.
#include "relay_harness.h"

#include <condition_variable>
#include <memory>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

namespace qvtest {
namespace {

using Clock = std::chrono::steady_clock;

TEST(RelayStopTest, StopWithoutLinksWaitsOneStepOfAQuarterSecond) {
    EventLog log;
    qv::TRelayListener listener;
    StartRelay(listener, log, RefusingPort().Port());
    auto start = Clock::now();
    listener.SetActive(false);
    auto took = Clock::now() - start;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 5000ms); // wide: a loaded machine may hold the thread up
    EXPECT_FALSE(listener.Active());
}

TEST(RelayStopTest, StopClosesEveryLinkAndRaisesOneDisconnectEach) {
    LocalServer server(ServerMode::Echo);
    EventLog log;
    StepCounter stops;
    qv::TRelayListener listener;
    stops.Attach(listener);
    listener.SetTerminateWaitTime(6000);
    StartRelay(listener, log, server.Port());
    std::vector<Fd> clients;
    for (int i = 0; i < 5; ++i) {
        clients.emplace_back(ConnectLoopback(listener.ListeningPort()));
        ASSERT_TRUE(SendAll(clients.back().Get(), "x"));
        ASSERT_EQ(ReadExactly(clients.back().Get(), 1, 5s), "x");
    }
    listener.SetActive(false);
    EXPECT_EQ(log.Disconnects(), 5); // all counted by the time the stop returns
    for (const qv::RelayLinkFigures& ended : log.Ended())
        EXPECT_EQ(ended.reason, qv::RelayEndReason::Stopped);
    EXPECT_LE(stops.steps.load(), 2);
    for (Fd& c : clients) {
        bool eof = false;
        ReadToEnd(c.Get(), 5s, &eof);
        EXPECT_TRUE(eof);
    }
    EXPECT_TRUE(WaitUntil([&] { return server.Closed() == 5; }));
    EXPECT_TRUE(log.Paired());
}

// A stop reaches a link wherever it waits: connecting to a destination that never answers, or writing
// to one that never reads while the client keeps sending.
class RelayStuckLinkTest : public ::testing::TestWithParam<bool> {};

TEST_P(RelayStuckLinkTest, StopReachesIt) {
    const bool writing = GetParam();
    StuckPort stuck;
    Fd deaf(ListenLoopback(8)); // accepts in the kernel, never reads
    EventLog log;
    StepCounter stops;
    qv::TRelayListener listener;
    stops.Attach(listener);
    listener.SetTerminateWaitTime(6000);
    StartRelay(listener, log, writing ? LocalPort(deaf.Get()) : stuck.Port());
    Fd client(ConnectLoopback(listener.ListeningPort()));
    ASSERT_TRUE(WaitUntil([&] { return log.Connects() == 1; }));
    std::thread sender;
    if (writing) {
        sender = std::thread([&client] { SendAll(client.Get(), std::string(64 << 20, 'x')); });
        std::this_thread::sleep_for(300ms); // until every buffer on the way is full
    }
    listener.SetActive(false);
    EXPECT_LE(stops.steps.load(), 2) << "the stop waited on a link that could not hear it";
    EXPECT_EQ(log.Disconnects(), 1);
    EXPECT_TRUE(log.Paired());
    if (sender.joinable()) {
        ::shutdown(client.Get(), SHUT_RDWR);
        sender.join();
    }
}

INSTANTIATE_TEST_SUITE_P(Waits, RelayStuckLinkTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Writing" : "Connecting"; });

// A disconnect handler that waits for the test to let it go: the link outlives the stop's wait.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    void Pass() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [this] { return open; });
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        cv.notify_all();
    }
};

// Stops of several listeners overlap: all are told at once, one wait covers them, and each is waited
// for no longer than its own TerminateWaitTime.
TEST(RelayStopTest, ListenersStoppedTogetherShareOneWait) {
    LocalServer server(ServerMode::Echo);
    Gate gate;
    EventLog logs[3];
    StepCounter stops;
    qv::TRelayListener listeners[3];
    stops.Attach(listeners[0]);
    std::vector<Fd> clients;
    for (int i = 0; i < 3; ++i) {
        listeners[i].SetTerminateWaitTime(i == 2 ? 1000 : 6000);
        StartRelay(listeners[i], logs[i], server.Port());
        clients.emplace_back(ConnectLoopback(listeners[i].ListeningPort()));
        ASSERT_TRUE(SendAll(clients.back().Get(), "x"));
        ASSERT_EQ(ReadExactly(clients.back().Get(), 1, 5s), "x");
    }
    // The third listener's link cannot end: the wait lasts its four steps and no more.
    listeners[2].OnDisconnect = [&](const qv::RelayLinkFigures& link) {
        gate.Pass();
        logs[2].Add('D', link);
    };
    qv::TRelayListener* all[] = {&listeners[0], &listeners[1], &listeners[2]};
    qv::TRelayListener::StopTogether(all);
    EXPECT_EQ(stops.steps.load(), 4);
    EXPECT_EQ(logs[0].Disconnects() + logs[1].Disconnects(), 2);
    for (const auto& listener : listeners)
        EXPECT_FALSE(listener.Active());
    gate.Open();
    EXPECT_TRUE(WaitUntil([&] { return logs[2].Disconnects() == 1; }));
}

// No stop and no destruction waits for a host-name lookup: the lookup finishes on its own later.
TEST(RelayStopTest, StopAndDestructionDoNotWaitForALookup) {
    auto gate = std::make_shared<Gate>();
    auto started = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    EventLog log;
    StepCounter stops;
    {
        qv::TRelayListener listener;
        stops.Attach(listener);
        listener.SetResolver([gate, started, finished](const std::string&) {
            *started = true;
            gate->Pass();
            *finished = true;
            return std::vector<qv::RelayAddress>{};
        });
        StartRelay(listener, log, RefusingPort().Port(), "slow.test");
        Fd client(ConnectLoopback(listener.ListeningPort()));
        ASSERT_TRUE(WaitUntil([&] { return started->load(); }));
        listener.SetActive(false);
        EXPECT_LE(stops.steps.load(), 2);
        EXPECT_EQ(log.Disconnects(), 1);
    }
    EXPECT_FALSE(finished->load());
    gate->Open();
    EXPECT_TRUE(WaitUntil([&] { return finished->load(); }));
}

TEST(RelayStopTest, StopGivesUpAfterTerminateWaitTimeAndTheLateLinkEndsByItself) {
    LocalServer server(ServerMode::Echo);
    Gate gate;
    std::atomic<int> late{0};
    std::size_t threadsBefore = CountThreads();
    std::size_t fdsBefore = CountOpenFds();
    {
        EventLog log;
        StepCounter stops;
        qv::TRelayListener listener;
        stops.Attach(listener);
        listener.SetTerminateWaitTime(1100); // four whole steps
        StartRelay(listener, log, server.Port());
        listener.OnDisconnect = [&](const qv::RelayLinkFigures&) {
            gate.Pass();
            ++late;
        };
        Fd client(ConnectLoopback(listener.ListeningPort()));
        ASSERT_TRUE(WaitUntil([&] { return server.Accepted() == 1; }));
        listener.SetActive(false);
        EXPECT_EQ(stops.steps.load(), 4);
        EXPECT_EQ(late.load(), 0);
        gate.Open();
        EXPECT_TRUE(WaitUntil([&] { return late.load() == 1; }));
    }
    // The server's own thread for the connection ends once the relay has closed it.
    EXPECT_TRUE(WaitUntil([&] { return server.Closed() == 1 && CountThreads() == threadsBefore; }));
    EXPECT_EQ(CountOpenFds(), fdsBefore);
}

// A wait step that throws still leaves the listener stopped, once: a second stop and the destructor find
// nothing left to do.
TEST(RelayStopTest, FailingWaitStepStillStopsTheListener) {
    LocalServer server(ServerMode::Echo);
    EventLog log;
    qv::TRelayListener listener;
    StartRelay(listener, log, server.Port());
    listener.StopWaitStep = [](std::chrono::milliseconds) { throw std::runtime_error("step"); };
    Fd client(ConnectLoopback(listener.ListeningPort()));
    ASSERT_TRUE(WaitUntil([&] { return log.Connects() == 1; }));
    EXPECT_THROW(listener.SetActive(false), std::runtime_error);
    EXPECT_FALSE(listener.Active());
    listener.SetActive(false);
    EXPECT_EQ(ConnectLoopback(listener.ListeningPort(), 1s), -1);
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
}

TEST(RelayStopTest, DestroyingAnActiveListenerWithLinksLeavesNoThreadAndNoDescriptor) {
    LocalServer server(ServerMode::Echo);
    StuckPort stuck;
    std::size_t threadsBefore = CountThreads();
    std::size_t fdsBefore = CountOpenFds();
    std::vector<Fd> clients;
    {
        EventLog log1, log2;
        StepCounter stops1, stops2;
        qv::TRelayListener relaying, connecting;
        stops1.Attach(relaying);
        stops2.Attach(connecting);
        StartRelay(relaying, log1, server.Port());
        StartRelay(connecting, log2, stuck.Port());
        for (int i = 0; i < 3; ++i) {
            clients.emplace_back(ConnectLoopback(relaying.ListeningPort()));
            ASSERT_TRUE(SendAll(clients.back().Get(), "x"));
            ASSERT_EQ(ReadExactly(clients.back().Get(), 1, 5s), "x");
            clients.emplace_back(ConnectLoopback(connecting.ListeningPort()));
        }
        ASSERT_TRUE(WaitUntil([&] { return log2.Connects() == 3; }));
    }
    clients.clear();
    EXPECT_TRUE(WaitUntil([&] { return server.Closed() == 3 && CountThreads() == threadsBefore; }));
    EXPECT_EQ(CountOpenFds(), fdsBefore);
}

TEST(RelayStopTest, ThousandShortConnectionsLeaveNoThreadAndNoDescriptorBehind) {
    LocalServer server(ServerMode::Echo);
    std::size_t threadsBefore = CountThreads();
    std::size_t fdsBefore = CountOpenFds();
    EventLog log;
    {
        StepCounter stops;
        qv::TRelayListener listener;
        stops.Attach(listener);
        StartRelay(listener, log, server.Port());
        std::size_t busiest = 0;
        for (int i = 0; i < 1000; ++i) {
            Fd client(ConnectLoopback(listener.ListeningPort()));
            ASSERT_TRUE(SendAll(client.Get(), "ping"));
            ASSERT_EQ(ReadExactly(client.Get(), 4, 5s), "ping");
            client.Reset();
            busiest = std::max(busiest, CountThreads());
        }
        ASSERT_TRUE(WaitUntil([&] { return log.Disconnects() == 1000; }));
        // Finished link threads are taken up by the next link rather than piling up. The margin
        // counts the test server's own threads too, which lag on a loaded or sanitized run.
        EXPECT_LT(busiest, threadsBefore + 64);
        listener.SetActive(false);
        EXPECT_TRUE(WaitUntil([&] { return server.Closed() == 1000 && CountThreads() == threadsBefore; }));
    }
    EXPECT_TRUE(log.Paired());
    EXPECT_EQ(CountOpenFds(), fdsBefore);
    EXPECT_EQ(CountThreads(), threadsBefore);
}

} // namespace
} // namespace qvtest

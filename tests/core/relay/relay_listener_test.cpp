// Starting a listener: ports, error texts, and starting again.
#include "relay_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace qvtest {
namespace {

TEST(RelayListenerTest, SecondListenerOnTheSamePortFailsWithTheAddressInUseText) {
    LocalServer server(ServerMode::Echo);
    EventLog log;
    qv::TRelayListener first, second;
    StartRelay(first, log, server.Port());
    second.SetDefaultPort(first.ListeningPort());
    try {
        second.SetActive(true);
        FAIL() << "the second start succeeded";
    } catch (const qv::RelayError& e) {
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(second.ListeningPort(), 0);
    EXPECT_TRUE(first.Active());
}

// Near the descriptor limit the relay stops accepting while the reserve is still free for the rest of the
// process; it neither spins nor leaks, and accepts again once descriptors are back. Links waiting on a
// destination that never answers end as soon as their clients hang up.
TEST(RelayListenerTest, OutOfDescriptorsLeavesTheReserveAndAcceptingResumesWithoutSpinning) {
    StuckPort stuck;
    EventLog log;
    StepCounter stops;
    const std::size_t fdsBefore = CountOpenFds();
    {
        std::vector<Fd> clients;
        for (int i = 0; i < 30; ++i)
            clients.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        // Above the clients: the listener's own descriptors (a dozen at most), room for a few links, and
        // the reserve. The limit is in force before the relay threads start, as it is in the program.
        const int limit = clients.back().Get() + 12 + 4 * qv::kLinkDescriptors + qv::kDescriptorReserve;
        rlimit low{static_cast<rlim_t>(limit), saved.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
        qv::TRelayListener listener;
        stops.Attach(listener);
        StartRelay(listener, log, stuck.Port());
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<uint16_t>(listener.ListeningPort()));
        for (Fd& c : clients)
            ASSERT_EQ(::connect(c.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        ASSERT_TRUE(WaitUntil([&] { return log.Connects() >= 3; }));
        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        std::this_thread::sleep_for(1s);
        ::getrusage(RUSAGE_SELF, &after);
        const double busy = (after.ru_utime.tv_sec - before.ru_utime.tv_sec + after.ru_stime.tv_sec -
                             before.ru_stime.tv_sec) +
                            (after.ru_utime.tv_usec - before.ru_utime.tv_usec + after.ru_stime.tv_usec -
                             before.ru_stime.tv_usec) /
                                1e6;
        EXPECT_LT(busy, 0.3) << "seconds of processor time in one second while out of descriptors";
        EXPECT_LT(log.Connects(), 30);
        // Each relay thread holds at most one connection within the reserve, waiting for room.
        std::vector<Fd> reserve;
        while (reserve.size() + 2 <= qv::kDescriptorReserve - qv::TRelayListener::kLoops) {
            int p[2];
            ASSERT_EQ(::pipe(p), 0) << "the relay took the reserve: " << reserve.size() << " opened";
            reserve.emplace_back(p[0]);
            reserve.emplace_back(p[1]);
        }
        reserve.clear();
        clients.clear();
        EXPECT_TRUE(WaitUntil([&] { return log.Connects() == 30 && log.Disconnects() == 30; }));
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        Fd late(ConnectLoopback(listener.ListeningPort()));
        EXPECT_TRUE(WaitUntil([&] { return log.Connects() == 31; }));
    }
    EXPECT_TRUE(log.Paired());
    EXPECT_EQ(CountOpenFds(), fdsBefore);
}

// Both sockets of a link watch for a peer that vanished without a word: the accepted one inherits the
// options of the listening socket, the outgoing one gets them before it connects.
class RelayDeadPeerTest : public ::testing::TestWithParam<bool> {};

TEST_P(RelayDeadPeerTest, SocketOfALinkProbesAnIdlePeerAndBoundsUnacknowledgedData) {
    const bool accepted = GetParam();
    Fd listening(qv::OpenListeningSocket(FreePort()));
    Fd client(ConnectLoopback(qv::BoundPort(listening.Get())));
    Fd socket;
    if (accepted) {
        socket = Fd(::accept(listening.Get(), nullptr, nullptr)); // the handshake is over: it is queued
        ASSERT_GE(socket.Get(), 0);
    } else {
        qv::RelayAddress address;
        ASSERT_TRUE(qv::ParseNumericHost("127.0.0.1", address));
        bool connected = false;
        socket = Fd(qv::BeginConnect(address, qv::BoundPort(listening.Get()), connected));
        ASSERT_GE(socket.Get(), 0);
    }
    const struct {
        int level, name;
        long long expected;
    } options[] = {{SOL_SOCKET, SO_KEEPALIVE, 1},
                   {IPPROTO_TCP, TCP_KEEPIDLE, qv::kKeepAliveIdle},
                   {IPPROTO_TCP, TCP_KEEPINTVL, qv::kKeepAliveInterval},
                   {IPPROTO_TCP, TCP_KEEPCNT, qv::kKeepAliveProbes},
                   {IPPROTO_TCP, TCP_USER_TIMEOUT, qv::kUserTimeout}};
    for (const auto& option : options) {
        int value = 0;
        socklen_t len = sizeof value;
        ASSERT_EQ(::getsockopt(socket.Get(), option.level, option.name, &value, &len), 0);
        EXPECT_EQ(value, option.expected) << "option " << option.name << " at level " << option.level;
    }
}

INSTANTIATE_TEST_SUITE_P(Sockets, RelayDeadPeerTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Accepted" : "Outgoing"; });

class RelayBadPortTest : public ::testing::TestWithParam<int> {};

TEST_P(RelayBadPortTest, PortOutsideTheRangeFailsWithASocketError) {
    qv::TRelayListener listener;
    listener.SetDefaultPort(GetParam());
    try {
        listener.SetActive(true);
        FAIL() << "started on port " << GetParam();
    } catch (const qv::RelayError& e) {
        EXPECT_EQ(std::string(e.what()), "Socket Error # 22\r\nInvalid argument");
    }
    EXPECT_FALSE(listener.Active());
}

INSTANTIATE_TEST_SUITE_P(Ports, RelayBadPortTest, ::testing::Values(0, -1, 65536, 100000));

TEST(RelayListenerTest, LaterStartsListenOnTheFirstPortWhateverDefaultPortSays) {
    LocalServer server(ServerMode::Greeting, "hi");
    EventLog log;
    StepCounter stops;
    qv::TRelayListener listener;
    stops.Attach(listener);
    StartRelay(listener, log, server.Port());
    int first = listener.ListeningPort();
    EXPECT_EQ(first, listener.DefaultPort());
    listener.SetActive(false);
    EXPECT_EQ(ConnectLoopback(first), -1); // the listening socket is closed while stopped

    int other = FreePort();
    listener.SetDefaultPort(other);
    listener.SetActive(true);
    EXPECT_EQ(listener.ListeningPort(), first);
    Fd client(ConnectLoopback(first));
    ASSERT_GE(client.Get(), 0);
    EXPECT_EQ(ReadExactly(client.Get(), 2, 5s), "hi");
    EXPECT_EQ(ConnectLoopback(other), -1);
}

TEST(RelayListenerTest, FailedStartLeavesThePortOpenToChange) {
    LocalServer server(ServerMode::Greeting, "hi");
    Fd holder(ListenLoopback(5));
    EventLog log;
    qv::TRelayListener listener;
    log.Attach(listener);
    listener.SetMappedHost("127.0.0.1");
    listener.SetMappedPort(server.Port());
    listener.SetDefaultPort(LocalPort(holder.Get()));
    EXPECT_THROW(listener.SetActive(true), qv::RelayError);
    EXPECT_EQ(listener.ListeningPort(), 0);

    int port = FreePort();
    listener.SetDefaultPort(port);
    listener.SetActive(true);
    EXPECT_EQ(listener.ListeningPort(), port);
    Fd client(ConnectLoopback(port));
    EXPECT_EQ(ReadExactly(client.Get(), 2, 5s), "hi");
}

TEST(RelayListenerTest, SettingThePresentStateDoesNothing) {
    LocalServer server(ServerMode::Echo);
    EventLog log;
    StepCounter stops;
    qv::TRelayListener listener;
    stops.Attach(listener);
    listener.SetActive(false);
    EXPECT_EQ(stops.steps.load(), 0);
    StartRelay(listener, log, server.Port());
    listener.SetActive(true);
    EXPECT_TRUE(listener.Active());
    listener.SetActive(false);
    listener.SetActive(false);
    EXPECT_EQ(stops.steps.load(), 1);
    EXPECT_FALSE(listener.Active());
}

TEST(RelayListenerTest, StartedAgainAfterAStopItRelaysAsBefore) {
    LocalServer server(ServerMode::Echo);
    EventLog log;
    StepCounter stops;
    qv::TRelayListener listener;
    stops.Attach(listener);
    StartRelay(listener, log, server.Port());
    for (int round = 0; round < 3; ++round) {
        if (round > 0)
            listener.SetActive(true);
        Fd client(ConnectLoopback(listener.ListeningPort()));
        std::string message = "round " + std::to_string(round);
        ASSERT_TRUE(SendAll(client.Get(), message));
        EXPECT_EQ(ReadExactly(client.Get(), message.size(), 5s), message);
        listener.SetActive(false);
        EXPECT_EQ(log.Disconnects(), round + 1); // the stop closed the open link and waited for it
    }
    EXPECT_TRUE(log.Paired());
}

} // namespace
} // namespace qvtest

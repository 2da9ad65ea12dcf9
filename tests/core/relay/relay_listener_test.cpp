// Starting a listener: ports, error texts, and starting again.
#include "relay_harness.h"

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

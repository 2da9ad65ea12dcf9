// How one relayed connection behaves from the client's and the destination's side.
#include "relay_harness.h"

#include <sys/socket.h>

namespace qvtest {
namespace {

class RelayLinkTest : public ::testing::Test {
protected:
    RelayLinkTest() { stops.Attach(listener); }
    void TearDown() override {
        listener.SetActive(false);
        EXPECT_TRUE(log.Paired());
    }
    int Connect() { return ConnectLoopback(listener.ListeningPort()); }

    // Declared before the listener, which raises events until it is destroyed.
    EventLog log;
    StepCounter stops;
    qv::TRelayListener listener;
};

TEST_F(RelayLinkTest, GreetingOfTheDestinationReachesASilentClient) {
    LocalServer server(ServerMode::Greeting, "220 ready\r\n");
    StartRelay(listener, log, server.Port());
    Fd client(Connect());
    ASSERT_GE(client.Get(), 0);
    EXPECT_EQ(ReadExactly(client.Get(), 11, 5s), "220 ready\r\n");
    // And the link relays the other way too.
    ASSERT_TRUE(SendAll(client.Get(), "ping"));
    EXPECT_EQ(ReadExactly(client.Get(), 4, 5s), "ping");
    EXPECT_EQ(log.Connects(), 1);
}

TEST_F(RelayLinkTest, DestinationClosingFirstEndsTheClientRightAfterItsLastBytes) {
    std::string farewell(100000, 'x'); // more than one chunk, so the close must wait for the writes
    LocalServer server(ServerMode::CloseAfterGreeting, farewell);
    StartRelay(listener, log, server.Port());
    Fd client(Connect());
    bool eof = false;
    EXPECT_EQ(ReadToEnd(client.Get(), 5s, &eof), farewell);
    EXPECT_TRUE(eof);
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
}

TEST_F(RelayLinkTest, ClientClosingFirstClosesTheOutgoingConnection) {
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port());
    Fd client(Connect());
    ASSERT_TRUE(SendAll(client.Get(), "abc"));
    EXPECT_EQ(ReadExactly(client.Get(), 3, 5s), "abc");
    client.Reset();
    EXPECT_TRUE(WaitUntil([&] { return server.Closed() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    EXPECT_EQ(log.Connects(), 1);
}

TEST_F(RelayLinkTest, HalfClosedClientStillGetsTheReply) {
    LocalServer server(ServerMode::ReplyAfterEof);
    StartRelay(listener, log, server.Port());
    Fd client(Connect());
    ASSERT_TRUE(SendAll(client.Get(), "GET / HTTP/1.0\r\n\r\n"));
    ASSERT_EQ(::shutdown(client.Get(), SHUT_WR), 0);
    bool eof = false;
    EXPECT_EQ(ReadToEnd(client.Get(), 5s, &eof), "reply:GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(eof);
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
}

// Destinations that cannot be reached: the client is accepted, both events follow, and the client's
// connection is closed at once without a byte.
struct Unreachable {
    const char* name;
    const char* host; // null: the refusing port on 127.0.0.1
};

class RelayUnreachableTest : public RelayLinkTest, public ::testing::WithParamInterface<Unreachable> {};

TEST_P(RelayUnreachableTest, ClientIsClosedAtOnceAfterBothEvents) {
    RefusingPort refusing;
    StartRelay(listener, log, refusing.Port(), GetParam().host ? GetParam().host : "127.0.0.1");
    Fd client(Connect());
    ASSERT_GE(client.Get(), 0);
    bool eof = false;
    EXPECT_EQ(ReadToEnd(client.Get(), 10s, &eof), "");
    EXPECT_TRUE(eof);
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    EXPECT_EQ(log.Connects(), 1);
}

INSTANTIATE_TEST_SUITE_P(Destinations, RelayUnreachableTest,
                         ::testing::Values(Unreachable{"RefusedPort", nullptr},
                                           Unreachable{"UnknownName", "no-such-host.invalid"},
                                           Unreachable{"EmptyHost", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RelayLinkTest, HostNameIsResolvedForTheOutgoingConnection) {
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port(), "localhost");
    Fd client(Connect());
    ASSERT_TRUE(SendAll(client.Get(), "named"));
    EXPECT_EQ(ReadExactly(client.Get(), 5, 5s), "named");
}

TEST_F(RelayLinkTest, FailingConnectHandlerSkipsTheOutgoingConnectionButStillDisconnects) {
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port());
    listener.OnConnect = [this](qv::TRelayLink& link) {
        log.Add('C', &link);
        throw std::runtime_error("log file full");
    };
    Fd client(Connect());
    bool eof = false;
    EXPECT_EQ(ReadToEnd(client.Get(), 5s, &eof), "");
    EXPECT_TRUE(eof);
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    EXPECT_EQ(server.Accepted(), 0);
}

TEST_F(RelayLinkTest, FailingDisconnectHandlerStillLetsTheLinkLeave) {
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port());
    listener.OnDisconnect = [this](qv::TRelayLink& link) {
        log.Add('D', &link);
        throw std::runtime_error("log file full");
    };
    stops.Attach(listener);
    Fd client(Connect());
    ASSERT_TRUE(SendAll(client.Get(), "x"));
    ASSERT_EQ(ReadExactly(client.Get(), 1, 5s), "x");
    client.Reset();
    ASSERT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    listener.SetActive(false);
    EXPECT_EQ(stops.steps.load(), 1); // nothing left in the list to wait for
}

TEST_F(RelayLinkTest, MappedDestinationIsReadAfreshForEveryConnection) {
    LocalServer first(ServerMode::Greeting, "first");
    LocalServer second(ServerMode::Greeting, "second");
    StartRelay(listener, log, first.Port());
    Fd a(Connect());
    EXPECT_EQ(ReadExactly(a.Get(), 5, 5s), "first");
    listener.SetMappedPort(second.Port());
    Fd b(Connect());
    EXPECT_EQ(ReadExactly(b.Get(), 6, 5s), "second");
    // The link made before the change keeps its destination.
    ASSERT_TRUE(SendAll(a.Get(), "again"));
    EXPECT_EQ(ReadExactly(a.Get(), 5, 5s), "again");
}

TEST_F(RelayLinkTest, FiftySimultaneousClientsEachRelayOnTheirOwn) {
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port());
    std::vector<Fd> clients;
    for (int i = 0; i < 50; ++i) {
        clients.emplace_back(Connect());
        ASSERT_GE(clients.back().Get(), 0);
    }
    ASSERT_TRUE(WaitUntil([&] { return log.Connects() == 50 && server.Accepted() == 50; }));
    // Answers in reverse order: no link waits for another.
    for (int i = 49; i >= 0; --i) {
        std::string message = "client " + std::to_string(i) + ";";
        ASSERT_TRUE(SendAll(clients[i].Get(), message));
        EXPECT_EQ(ReadExactly(clients[i].Get(), message.size(), 5s), message);
    }
    EXPECT_EQ(log.Disconnects(), 0);
    clients.clear();
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 50; }));
}

} // namespace
} // namespace qvtest

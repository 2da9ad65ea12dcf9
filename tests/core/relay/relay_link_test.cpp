// How one relayed connection behaves from the client's and the destination's side.
#include "relay_harness.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Ends of stream and resets on either side. An end of stream is passed on and the other direction keeps
// flowing; a reset ends the link. Whatever happens, the link ends with its one disconnect.
struct Ending {
    const char* name;
    ServerMode mode;
    void (*client)(Fd& client, const std::string& greeting);
    std::uint64_t serverReceives;
    qv::RelayEndReason reason;
    std::uint64_t downLimit = 0; // bytes per second, destination to client; 0: none
};

const std::string kLong(100000, 'x'); // more than one chunk: the end of stream waits for the writes
// Three grants of the smallest size at 1 KiB/s: each waits longer than the half-closed timeout.
const std::string kSlow(1500, 's');

void ReadAllThenEnd(Fd& client, const std::string& expected) {
    bool eof = false;
    EXPECT_EQ(ReadToEnd(client.Get(), 5s, &eof), expected);
    EXPECT_TRUE(eof);
}

class RelayEndingTest : public RelayLinkTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(RelayEndingTest, EndsArePassedOnAndTheLinkEndsOnce) {
    const std::string& greeting = GetParam().downLimit ? kSlow : kLong;
    LocalServer server(GetParam().mode, greeting);
    listener.SetHalfClosedTimeout(300ms);
    if (GetParam().downLimit)
        listener.SetBandwidth(0, GetParam().downLimit);
    StartRelay(listener, log, server.Port());
    Fd client(Connect());
    GetParam().client(client, greeting);
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return server.BytesReceived() == GetParam().serverReceives; }));
    EXPECT_EQ(log.Connects(), 1);
    ASSERT_EQ(log.Ended().size(), 1u);
    EXPECT_STREQ(qv::ReasonText(log.Ended()[0].reason), qv::ReasonText(GetParam().reason));
    EXPECT_EQ(log.Ended()[0].bytesUp, GetParam().serverReceives);
}

INSTANTIATE_TEST_SUITE_P(
    Sides, RelayEndingTest,
    ::testing::Values(
        // The client's request, its end of stream, then the reply.
        Ending{"ClientEndsFirst", ServerMode::ReplyAfterEof,
               [](Fd& c, const std::string&) {
                   ASSERT_TRUE(SendAll(c.Get(), "GET /"));
                   ASSERT_EQ(::shutdown(c.Get(), SHUT_WR), 0);
                   ReadAllThenEnd(c, "reply:GET /");
               },
               5, qv::RelayEndReason::ClientClosed},
        // The destination's last bytes and end of stream; the client's late bytes still arrive.
        Ending{"DestinationEndsFirst", ServerMode::HalfCloseAfterGreeting,
               [](Fd& c, const std::string& greeting) {
                   ReadAllThenEnd(c, greeting);
                   ASSERT_TRUE(SendAll(c.Get(), "late"));
                   ASSERT_EQ(::shutdown(c.Get(), SHUT_WR), 0);
               },
               4, qv::RelayEndReason::DestinationClosed},
        // A destination that never ends its side: the half-closed link is ended once quiet.
        Ending{"QuietAfterTheClientsEnd", ServerMode::Hold,
               [](Fd& c, const std::string&) {
                   ASSERT_TRUE(SendAll(c.Get(), "x"));
                   ASSERT_EQ(::shutdown(c.Get(), SHUT_WR), 0);
                   ReadAllThenEnd(c, "");
               },
               1, qv::RelayEndReason::HalfClosedTimeout},
        // The client ends its side while the greeting waits for its bandwidth: waiting is no quiet.
        Ending{"ClientEndsWhileTheGreetingWaitsForBandwidth", ServerMode::Greeting,
               [](Fd& c, const std::string& greeting) {
                   std::string got = ReadExactly(c.Get(), 1, 5s);
                   ASSERT_EQ(::shutdown(c.Get(), SHUT_WR), 0);
                   bool eof = false;
                   got += ReadToEnd(c.Get(), 5s, &eof);
                   EXPECT_EQ(got.size(), greeting.size());
                   EXPECT_TRUE(eof);
               },
               0, qv::RelayEndReason::ClientClosed, 1024},
        Ending{"ClientResets", ServerMode::Sink,
               [](Fd& c, const std::string&) {
                   ASSERT_TRUE(SendAll(c.Get(), "abc"));
                   // Only once the bytes are through, or the reset would overtake them.
                   std::this_thread::sleep_for(100ms);
                   linger reset{1, 0};
                   ::setsockopt(c.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                   c.Reset();
               },
               3, qv::RelayEndReason::ClientReset},
        Ending{"DestinationResets", ServerMode::ResetAfterGreeting,
               [](Fd& c, const std::string&) {
                   bool eof = false;
                   ReadToEnd(c.Get(), 5s, &eof);
                   EXPECT_TRUE(eof);
               },
               0, qv::RelayEndReason::DestinationReset}),
    [](const auto& info) { return std::string(info.param.name); });

// Destinations, reachable or not. One that cannot be reached still gets the client accepted and both
// events, and the client's connection is closed without a byte; a connect that hangs gives up after the
// connect timeout. Numeric forms other than a strict dotted quad are no address; names give IPv6 and IPv4
// addresses, tried in turn.
enum class Port { Echo4, Echo6, Refusing, Stuck };
struct Destination {
    const char* name;
    const char* host;
    Port port;
    qv::RelayEndReason reason; // ClientClosed: relays
};

class RelayDestinationTest : public RelayLinkTest, public ::testing::WithParamInterface<Destination> {};

qv::RelayAddress Numeric(const char* text) {
    qv::RelayAddress address;
    EXPECT_TRUE(qv::ParseNumericHost(text, address));
    return address;
}

TEST_P(RelayDestinationTest, RelaysOrClosesTheClient) {
    const Destination& d = GetParam();
    LocalServer server(ServerMode::Echo, "", d.port == Port::Echo6);
    std::optional<RefusingPort> refusing;
    std::optional<StuckPort> stuck;
    int port = server.Port();
    if (d.port == Port::Refusing)
        port = refusing.emplace().Port();
    if (d.port == Port::Stuck)
        port = stuck.emplace().Port();
    listener.SetConnectTimeout(300ms);
    listener.SetResolver([](const std::string& host) {
        if (host == "dead-then-live.test") // nothing listens on ::1 at the port
            return std::vector{Numeric("::1"), Numeric("127.0.0.1")};
        if (host == "v6.test")
            return std::vector{Numeric("::1")};
        return qv::SystemResolve(host);
    });
    StartRelay(listener, log, port, d.host);
    Fd client(Connect());
    ASSERT_GE(client.Get(), 0);
    const bool relays = d.reason == qv::RelayEndReason::ClientClosed;
    if (relays) {
        ASSERT_TRUE(SendAll(client.Get(), "ping"));
        EXPECT_EQ(ReadExactly(client.Get(), 4, 5s), "ping");
        client.Reset();
    } else {
        bool eof = false;
        EXPECT_EQ(ReadToEnd(client.Get(), 10s, &eof), "");
        EXPECT_TRUE(eof);
    }
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    EXPECT_EQ(log.Connects(), 1);
    const std::vector<qv::RelayLinkFigures> endings = log.Ended();
    ASSERT_EQ(endings.size(), 1u);
    const qv::RelayLinkFigures& ended = endings[0];
    EXPECT_STREQ(qv::ReasonText(ended.reason), qv::ReasonText(d.reason));
    EXPECT_EQ(ended.destination.length > 0, relays);
    EXPECT_EQ(ended.bytesDown, relays ? 4u : 0u);
    EXPECT_EQ(qv::EndpointText(ended.client).rfind("127.0.0.1:", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, RelayDestinationTest,
    ::testing::Values(
        Destination{"RefusedPort", "127.0.0.1", Port::Refusing, qv::RelayEndReason::Refused},
        Destination{"UnknownName", "no-such-host.invalid", Port::Echo4, qv::RelayEndReason::NameNotFound},
        Destination{"EmptyHost", "", Port::Echo4, qv::RelayEndReason::Failed},
        Destination{"ConnectTimesOut", "127.0.0.1", Port::Stuck, qv::RelayEndReason::TimedOut},
        Destination{"ShortNumericForm", "127.1", Port::Echo4, qv::RelayEndReason::NameNotFound},
        Destination{"HexNumericForm", "0x7f.0.0.1", Port::Echo4, qv::RelayEndReason::NameNotFound},
        Destination{"TrailingJunk", "127.0.0.1 x", Port::Echo4, qv::RelayEndReason::NameNotFound},
        Destination{"Name", "localhost", Port::Echo4, qv::RelayEndReason::ClientClosed},
        Destination{"IPv6Literal", "::1", Port::Echo6, qv::RelayEndReason::ClientClosed},
        Destination{"IPv6Name", "v6.test", Port::Echo6, qv::RelayEndReason::ClientClosed},
        Destination{"DeadAddressFirst", "dead-then-live.test", Port::Echo4,
                    qv::RelayEndReason::ClientClosed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RelayLinkTest, FailingConnectHandlerSkipsTheOutgoingConnectionButStillDisconnects) {
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port());
    listener.OnConnect = [this](const qv::RelayLinkFigures& link) {
        log.Add('C', link);
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
    listener.OnDisconnect = [this](const qv::RelayLinkFigures& link) {
        log.Add('D', link);
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

// The port of the peer a socket is connected to; 0 for anything else.
int PeerPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET)
        return 0;
    return ntohs(addr.sin_port);
}

// A child process forked while a link runs holds copies of its sockets, so closing them does not take
// them out of the loop's watch: the events that follow the link's end must not reach it.
TEST_F(RelayLinkTest, LinkEndedWhileAForkedChildHoldsItsSocketsGetsNoMoreEvents) {
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port());
    Fd client(Connect());
    ASSERT_TRUE(SendAll(client.Get(), "x"));
    ASSERT_EQ(ReadExactly(client.Get(), 1, 5s), "x");
    // The child keeps the relay's two sockets of the link only, so the client's reset and the
    // destination's close still reach them.
    std::array<bool, 1024> keep{};
    for (int fd = 0; fd < static_cast<int>(keep.size()); ++fd)
        keep[fd] = (LocalPort(fd) == listener.ListeningPort() && PeerPort(fd) > 0) ||
                   (PeerPort(fd) == server.Port() && LocalPort(fd) != server.Port());
    ASSERT_EQ(std::count(keep.begin(), keep.end(), true), 2);
    int release[2];
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only async-signal-safe calls in the child of a threaded process.
        for (int fd = 0; fd < static_cast<int>(keep.size()); ++fd)
            if (!keep[fd] && fd != release[0])
                ::close(fd);
        char byte;
        [[maybe_unused]] ssize_t n = ::read(release[0], &byte, 1);
        ::_exit(0);
    }
    ::close(release[0]);
    linger reset{1, 0};
    ::setsockopt(client.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    client.Reset();
    // The destination sees the relay's end of stream and closes: its end reaches the closed socket.
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 1 && server.Closed() == 1; }));
    for (int i = 0; i < 20; ++i) { // later links may take the freed one's place
        Fd next(Connect());
        ASSERT_TRUE(SendAll(next.Get(), "y"));
        EXPECT_EQ(ReadExactly(next.Get(), 1, 5s), "y");
    }
    ::close(release[1]);
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WaitUntil([&] { return log.Disconnects() == 21; }));
}

// Live links as a snapshot from another thread shows them, and one of them closed alone.
TEST_F(RelayLinkTest, SnapshotShowsTheLiveLinksAndCloseLinkEndsOnlyThatOne) {
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port());
    Fd first(Connect());
    Fd second(Connect());
    ASSERT_TRUE(SendAll(first.Get(), "one") && ReadExactly(first.Get(), 3, 5s) == "one");
    ASSERT_TRUE(SendAll(second.Get(), "second") && ReadExactly(second.Get(), 6, 5s) == "second");
    std::vector<qv::RelayLinkFigures> live;
    ASSERT_TRUE(WaitUntil([&] {
        live = listener.Snapshot();
        return live.size() == 2 && live[0].bytesDown + live[1].bytesDown == 9;
    }));
    for (const qv::RelayLinkFigures& link : live) {
        EXPECT_EQ(link.state, qv::RelayLinkState::Relaying);
        EXPECT_EQ(qv::EndpointText(link.destination), "127.0.0.1:" + std::to_string(server.Port()));
    }
    const auto closed = std::find_if(live.begin(), live.end(), [](const auto& l) { return l.bytesUp == 3; });
    ASSERT_NE(closed, live.end());
    listener.CloseLink(closed->id);
    bool eof = false;
    ReadToEnd(first.Get(), 5s, &eof);
    EXPECT_TRUE(eof);
    ASSERT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    EXPECT_EQ(log.Ended()[0].reason, qv::RelayEndReason::ClosedByUser);
    EXPECT_EQ(log.Ended()[0].id, closed->id);
    EXPECT_TRUE(SendAll(second.Get(), "more") && ReadExactly(second.Get(), 4, 5s) == "more");
    EXPECT_EQ(listener.Snapshot().size(), 1u);
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

TEST_F(RelayLinkTest, LookupsOfClientsArrivingTogetherRunSideBySide) {
    // Each slow lookup waits (up to 3 s) for the other to be running too.
    struct Overlap {
        std::mutex mutex;
        std::condition_variable changed;
        int running = 0;
        int most = 0;
    };
    auto overlap = std::make_shared<Overlap>();
    listener.SetResolver([overlap](const std::string& host) {
        if (host == "slow.test") {
            std::unique_lock lock(overlap->mutex);
            overlap->most = std::max(overlap->most, ++overlap->running);
            overlap->changed.notify_all();
            overlap->changed.wait_for(lock, 3s, [&] { return overlap->most >= 2; });
            --overlap->running;
        }
        return std::vector{Numeric("127.0.0.1")};
    });
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port(), "quick.test");
    Fd first(Connect()); // leaves a lookup thread idle
    ASSERT_TRUE(SendAll(first.Get(), "warm"));
    ASSERT_EQ(ReadExactly(first.Get(), 4, 5s), "warm");
    listener.SetMappedHost("slow.test");
    Fd a(Connect());
    Fd b(Connect());
    ASSERT_TRUE(SendAll(a.Get(), "a") && SendAll(b.Get(), "b"));
    EXPECT_EQ(ReadExactly(a.Get(), 1, 10s), "a");
    EXPECT_EQ(ReadExactly(b.Get(), 1, 10s), "b");
    std::lock_guard lock(overlap->mutex);
    EXPECT_EQ(overlap->most, 2);
}

} // namespace
} // namespace qvtest

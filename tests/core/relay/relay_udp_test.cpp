// UDP mappings: datagrams through a listener to a real echo on 127.0.0.1 or ::1 and back to the client
// that sent them, whole or dropped; sessions and their events; the bounds a flood meets.
#include "core/relay/relay_descriptors.h"
#include "core/relay/relay_udp.h"
#include "relay_harness.h"
#include "support/udp_probe.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <optional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>

namespace qvtest {
namespace {

qv::RelayListenOn On(qv::RelayListenOn::Kind kind) {
    return {kind, {}};
}

void StartUdp(qv::TRelayListener& listener, EventLog& log, const std::string& host, int destPort,
              qv::RelayListenOn on = {}, qv::RelayProtocol protocol = qv::RelayProtocol::Udp) {
    listener.SetProtocol(protocol);
    listener.SetListenOn(std::move(on));
    StartRelay(listener, log, destPort, host);
}

struct Route {
    const char* name;
    qv::RelayListenOn::Kind listenOn;
    const char* client;      // where the clients are, and the address of the mapping they send to
    const char* destination; // where the echo is
    std::vector<std::size_t> sizes;
    bool relayed;                 // false: every datagram is too large for the way to the destination
    const char* sendTo = nullptr; // a broadcast address the clients send to, from unconnected sockets
};

class RelayUdpRouteTest : public ::testing::TestWithParam<Route> {};

// Several clients at once, each with datagrams of its own: every one comes back whole to the client that
// sent it, or (too large for an IPv4 destination) is dropped and counted, never cut.
TEST_P(RelayUdpRouteTest, DatagramsComeBackWholeToTheirOwnClient) {
    const Route& r = GetParam();
    UdpEcho echo(r.destination);
    EventLog log;
    qv::TRelayListener listener;
    StartUdp(listener, log, r.destination, echo.Port(), On(r.listenOn));
    std::vector<Fd> clients;
    for (int c = 0; c < 3; ++c)
        clients.push_back(UdpSocket(r.client, 0, r.sendTo ? 0 : listener.ListeningPort()));
    sockaddr_in broadcast{AF_INET, htons(static_cast<std::uint16_t>(listener.ListeningPort())), {}, {}};
    if (r.sendTo) {
        ::inet_pton(AF_INET, r.sendTo, &broadcast.sin_addr);
        const int one = 1;
        for (Fd& client : clients)
            ::setsockopt(client.Get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    }
    for (std::size_t size : r.sizes)
        for (int c = 0; c < 3; ++c) {
            const std::string datagram(size, static_cast<char>('a' + c));
            ASSERT_EQ(::sendto(clients[c].Get(), datagram.data(), size, 0,
                               r.sendTo ? reinterpret_cast<const sockaddr*>(&broadcast) : nullptr,
                               r.sendTo ? sizeof broadcast : 0),
                      static_cast<ssize_t>(size))
                << size;
            const auto back = ReceiveDatagram(clients[c].Get(), r.relayed ? 3s : 300ms);
            if (r.relayed) {
                ASSERT_TRUE(back) << "client " << c << ", " << size << " bytes";
                EXPECT_EQ(*back, datagram) << "client " << c << ", " << size << " bytes";
            } else {
                EXPECT_FALSE(back) << size;
            }
        }
    // The client may have its last reply before the relay has counted it.
    std::vector<qv::RelayLinkFigures> live;
    WaitUntil([&] {
        live = listener.Snapshot();
        return std::all_of(live.begin(), live.end(), [&](const qv::RelayLinkFigures& f) {
            return f.datagramsDown + f.datagramsDropped == r.sizes.size();
        });
    });
    ASSERT_EQ(live.size(), 3u);
    std::uint64_t bytes = 0;
    for (std::size_t size : r.sizes)
        bytes += size;
    for (const qv::RelayLinkFigures& f : live) {
        EXPECT_EQ(f.protocol, qv::RelayProtocol::Udp);
        EXPECT_EQ(f.datagramsUp, r.relayed ? r.sizes.size() : 0);
        EXPECT_EQ(f.datagramsDown, r.relayed ? r.sizes.size() : 0);
        EXPECT_EQ(f.bytesDown, r.relayed ? bytes : 0);
        EXPECT_EQ(f.datagramsDropped, r.relayed ? 0 : r.sizes.size());
    }
    listener.SetActive(false);
    EXPECT_EQ(log.Connects(), 3);
    EXPECT_EQ(log.Disconnects(), 3);
    EXPECT_TRUE(log.Paired());
    for (const qv::RelayLinkFigures& f : log.Ended())
        EXPECT_EQ(f.reason, qv::RelayEndReason::Stopped);
}

using Kind = qv::RelayListenOn::Kind;
INSTANTIATE_TEST_SUITE_P(
    Routes, RelayUdpRouteTest,
    ::testing::Values(Route{"IPv4", Kind::AllIPv4, "127.0.0.1", "127.0.0.1", {0, 1, 1400, 65507}, true},
                      Route{"IPv6", Kind::ThisMachine, "::1", "::1", {0, 1, 1400, 65527}, true},
                      Route{"IPv4ClientOnDualStack", Kind::AllAddresses, "127.0.0.1", "::1", {1, 1400}, true},
                      // Replies leave from the address the client sent to, not from the one the routing
                      // picks (127.0.0.1): the client's connected socket takes nothing else.
                      Route{"SecondAddress", Kind::AllIPv4, "127.0.0.2", "127.0.0.1", {1, 1400}, true},
                      Route{"SecondAddressOnDualStack", Kind::AllAddresses, "127.0.0.2", "::1", {1}, true},
                      Route{"IPv6OnDualStack", Kind::AllAddresses, "::1", "::1", {1}, true},
                      // Every relay thread's socket gets a broadcast; one session answers, from the
                      // address that took it in.
                      Route{
                          "Broadcast", Kind::AllIPv4, "127.0.0.1", "127.0.0.1", {1}, true, "127.255.255.255"},
                      // Beyond 65,507 bytes no IPv4 datagram can carry it.
                      Route{"TooLargeForIPv4", Kind::ThisMachine, "::1", "127.0.0.1", {65508, 65527}, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct Ending {
    const char* name;
    // The mapped destination: the echo, a port where nothing listens (it refuses), or a socket that
    // never answers.
    enum class To { Echo, Refusing, Silent } to;
    bool fallback; // the echo as the fallback
    // Room: a second client comes once the sessions are at their ceiling of one.
    enum class How { Idle, Close, Stop, Nothing, Room } how;
    qv::RelayEndReason reason;
    bool echoed;
};

class RelayUdpEndingTest : public ::testing::TestWithParam<Ending> {};

// A session ends once, with one disconnect event naming why: gone idle, closed from the window, stopped,
// or its destination refused with no other to try. A destination that refuses first makes the session
// go on to the fallback, which gets what the client sent. One whose destination never answers goes
// sooner than the idle time, and first when a new client needs its place.
TEST_P(RelayUdpEndingTest, SessionEndsOnceWithItsReason) {
    using How = Ending::How;
    using To = Ending::To;
    const Ending& e = GetParam();
    UdpEcho echo("127.0.0.1");
    int refusing = 0;
    {
        Fd gone = UdpSocket("127.0.0.1"); // a port where nothing listens once this is closed
        refusing = LocalPort(gone.Get());
    }
    Fd silent = UdpSocket("127.0.0.1");
    EventLog log;
    qv::TRelayListener listener;
    // Unanswered, the session of the longest idle time ends well before it: the wait below is shorter.
    listener.SetUdpIdleTimeout(e.how == How::Idle ? (e.to == To::Silent ? 12s : 300ms) : 60s);
    listener.SetUdpSessionCeiling(e.how == How::Room ? 1 : qv::TRelayListener::kUdpSessionCeiling);
    if (e.fallback)
        listener.SetFallbacks({{"127.0.0.1", echo.Port()}});
    StartUdp(listener, log, "127.0.0.1",
             e.to == To::Echo       ? echo.Port()
             : e.to == To::Refusing ? refusing
                                    : LocalPort(silent.Get()));
    Fd client = UdpSocket("127.0.0.1", 0, listener.ListeningPort());
    ASSERT_EQ(::send(client.Get(), "ping", 4, 0), 4);
    if (e.echoed) {
        ASSERT_EQ(ReceiveDatagram(client.Get()), std::optional<std::string>("ping"));
    }
    if (e.how == How::Close)
        listener.CloseLink(listener.Snapshot().at(0).id);
    if (e.how == How::Stop)
        listener.SetActive(false);
    Fd second = UdpSocket("127.0.0.1", 0, listener.ListeningPort());
    if (e.how == How::Room) {
        ASSERT_TRUE(WaitUntil([&] { return log.Connects() == 1; }));
        // At once it waits for its answer; a moment later its place goes to the new client, which may
        // have to send again (another relay thread may have made the room).
        ASSERT_EQ(::send(second.Get(), "pong", 4, 0), 4);
        std::this_thread::sleep_for(qv::TRelayUdp::kRoomAfter);
        EXPECT_EQ(log.Connects(), 1);
        ASSERT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
        ASSERT_EQ(::send(second.Get(), "pong", 4, 0), 4);
        ASSERT_TRUE(WaitUntil([&] { return log.Connects() == 2; }));
    }
    ASSERT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    std::this_thread::sleep_for(400ms); // long enough for a second idle timeout
    listener.SetActive(false);
    const int sessions = e.how == How::Room ? 2 : 1;
    EXPECT_EQ(log.Connects(), sessions);
    EXPECT_EQ(log.Disconnects(), sessions);
    EXPECT_TRUE(log.Paired());
    const qv::RelayLinkFigures end = log.Ended().at(0);
    EXPECT_EQ(end.reason, e.reason);
    EXPECT_EQ(end.protocol, qv::RelayProtocol::Udp);
    EXPECT_EQ(end.datagramsDown, e.echoed ? 1u : 0u);
    // A refused one never reached its destination.
    EXPECT_EQ(end.destination.length != 0, e.to != To::Refusing || e.echoed);
    // One datagram sent once, however many destinations it was sent to.
    EXPECT_EQ(end.datagramsUp, 1u);
    EXPECT_EQ(end.bytesUp, 4u);
}

using How = Ending::How;
using To = Ending::To;
INSTANTIATE_TEST_SUITE_P(
    Endings, RelayUdpEndingTest,
    ::testing::Values(
        Ending{"IdleTimeout", To::Echo, false, How::Idle, qv::RelayEndReason::IdleTimeout, true},
        Ending{"ClosedByUser", To::Echo, false, How::Close, qv::RelayEndReason::ClosedByUser, true},
        Ending{"Stopped", To::Echo, false, How::Stop, qv::RelayEndReason::Stopped, true},
        Ending{"Refused", To::Refusing, false, How::Nothing, qv::RelayEndReason::Refused, false},
        Ending{"RefusedThenFallback", To::Refusing, true, How::Stop, qv::RelayEndReason::Stopped, true},
        Ending{"UnansweredGoesSooner", To::Silent, false, How::Idle, qv::RelayEndReason::IdleTimeout, false},
        Ending{"UnansweredMakesRoom", To::Silent, false, How::Room, qv::RelayEndReason::LimitReached, false}),
    [](const auto& info) { return std::string(info.param.name); });

constexpr int kFlood = 120; // clients, each from a port of its own

struct Flood {
    const char* name;
    int ceiling;
    int limit;                  // the access rules' limit, 0: none
    int perSource;              // sessions of one address at most
    bool denied;                // 127.0.0.0/8 in the deny list
    int addresses;              // the clients' ports are spread over this many addresses
    int sessions;               // made out of kFlood clients
    qv::RelayEndReason refusal; // None: the rest are dropped without a word
    int reports;                // refusals reported one by one
    int more;                   // refusals told as one number after those
    bool secondServed;          // a client from another address still gets a session
};

class RelayUdpFloodTest : public ::testing::TestWithParam<Flood> {};

// Many source ports at once make no more sessions than the ceiling, the limit, the share of one address
// and the lists allow; the datagrams of the others are dropped and counted. Refused clients are reported
// once a second per address and a hundred a second at most, the rest as one number.
TEST_P(RelayUdpFloodTest, SessionsStayWithinTheirBounds) {
    const Flood& f = GetParam();
    UdpEcho echo("127.0.0.1");
    EventLog log;
    std::atomic<int> refused{0};
    std::atomic<int> wrongReason{0};
    std::atomic<std::uint64_t> more{0};
    qv::TRelayListener listener;
    listener.SetUdpSessionCeiling(f.ceiling);
    listener.SetUdpSessionsPerSource(f.perSource);
    if (f.limit > 0 || f.denied) {
        auto rules = std::make_shared<qv::RelayAccessRules>();
        rules->maxConnections = f.limit;
        qv::RelayNetwork network;
        std::string error;
        if (f.denied && qv::ParseNetwork("127.0.0.0/8", network, error))
            rules->deny.Add(network);
        listener.SetAccessRules(rules);
    }
    listener.OnRefused = [&](const qv::RelayLinkFigures& figures) {
        ++refused;
        wrongReason += figures.reason != f.refusal;
    };
    listener.OnMoreRefused = [&](std::uint64_t n) { more += n; };
    StartUdp(listener, log, "127.0.0.1", echo.Port());
    std::vector<Fd> clients;
    for (int i = 0; i < kFlood; ++i) {
        const std::string host = "127.0.1." + std::to_string(1 + i % f.addresses);
        clients.push_back(UdpSocket(host.c_str(), 0, listener.ListeningPort()));
        ::send(clients.back().Get(), "x", 1, 0);
    }
    ASSERT_TRUE(WaitUntil([&] {
        return listener.DatagramsDroppedWithoutSession() + static_cast<std::uint64_t>(log.Connects()) ==
               kFlood;
    })) << listener.DatagramsDroppedWithoutSession()
        << " dropped, " << log.Connects() << " sessions";
    EXPECT_EQ(log.Connects(), f.sessions);
    EXPECT_EQ(listener.Snapshot().size(), static_cast<std::size_t>(f.sessions));
    EXPECT_EQ(refused.load(), f.reports);
    EXPECT_EQ(wrongReason.load(), 0);
    WaitUntil([&] { return more.load() >= static_cast<std::uint64_t>(f.more); }, 3s);
    EXPECT_EQ(more.load(), static_cast<std::uint64_t>(f.more));
    ASSERT_TRUE(WaitUntil([&] {
        std::uint64_t echoed = 0;
        for (const qv::RelayLinkFigures& live : listener.Snapshot())
            echoed += live.datagramsDown;
        return echoed == static_cast<std::uint64_t>(f.sessions);
    }));
    int answered = 0;
    for (Fd& client : clients)
        answered += ReceiveDatagram(client.Get(), 0ms).has_value();
    EXPECT_EQ(answered, f.sessions);
    Fd second = UdpSocket("127.0.0.2", 0, listener.ListeningPort());
    ::send(second.Get(), "y", 1, 0);
    EXPECT_EQ(ReceiveDatagram(second.Get(), f.secondServed ? 3s : 300ms).has_value(), f.secondServed);
    listener.SetActive(false);
    EXPECT_TRUE(log.Paired());
}

using qv::RelayEndReason;
constexpr int kPerSource = qv::TRelayListener::kUdpSessionsPerSource;
constexpr int kReports = qv::TRelaySources::kReportsPerSecond;
INSTANTIATE_TEST_SUITE_P(
    Floods, RelayUdpFloodTest,
    ::testing::Values(
        Flood{"Ceiling", 40, 0, kPerSource, false, 1, 40, RelayEndReason::None, 0, 0, false},
        Flood{"LimitBelowCeiling", 40, 25, kPerSource, false, 1, 25, RelayEndReason::LimitReached, 1, 0,
              false},
        Flood{"Denied", 40, 0, kPerSource, true, 1, 0, RelayEndReason::DeniedByRule, 1, 0, false},
        Flood{"DeniedFromManyAddresses", 40, 0, kPerSource, true, kFlood, 0, RelayEndReason::DeniedByRule,
              kReports, kFlood - kReports, false},
        Flood{"OneAddressTakesItsShare", 200, 0, 30, false, 1, 30, RelayEndReason::LimitReached, 1, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

// TCP and UDP on one port number at once, each to its own kind of echo on the destination's port; the
// snapshot tells them apart. The UDP port, once taken, fails a second UDP listener with the text of a
// port in use, marked as UDP's.
TEST(RelayUdpTest, TcpAndUdpShareThePortNumber) {
    LocalServer tcpEcho(ServerMode::Echo);
    UdpEcho udpEcho("127.0.0.1", tcpEcho.Port());
    EventLog log;
    qv::TRelayListener listener;
    StartUdp(listener, log, "127.0.0.1", tcpEcho.Port(), {}, qv::RelayProtocol::Both);
    Fd tcp(ConnectLoopback(listener.ListeningPort()));
    Fd udp = UdpSocket("127.0.0.1", 0, listener.ListeningPort());
    ASSERT_TRUE(SendAll(tcp.Get(), "stream"));
    ASSERT_EQ(::send(udp.Get(), "datagram", 8, 0), 8);
    EXPECT_EQ(ReadExactly(tcp.Get(), 6, 5s), "stream");
    EXPECT_EQ(ReceiveDatagram(udp.Get()), std::optional<std::string>("datagram"));
    std::vector<qv::RelayProtocol> protocols;
    for (const qv::RelayLinkFigures& f : listener.Snapshot())
        protocols.push_back(f.protocol);
    std::sort(protocols.begin(), protocols.end());
    EXPECT_EQ(protocols, (std::vector{qv::RelayProtocol::Tcp, qv::RelayProtocol::Udp}));

    qv::TRelayListener second;
    second.SetProtocol(qv::RelayProtocol::Udp);
    second.SetDefaultPort(listener.ListeningPort());
    try {
        second.SetActive(true);
        FAIL() << "a second UDP listener took the port";
    } catch (const qv::RelayError& error) {
        EXPECT_EQ(error.Code(), EADDRINUSE);
        EXPECT_TRUE(error.Udp());
    }
    listener.SetActive(false);
    EXPECT_EQ(log.Disconnects(), 2);
    EXPECT_TRUE(log.Paired());
}

// Near the descriptor limit a flood of UDP clients takes no more than its share: the same mapping still
// accepts a TCP connection and relays it.
TEST(RelayUdpTest, FloodOfClientsLeavesDescriptorsForTcp) {
    LocalServer tcpEcho(ServerMode::Echo);
    UdpEcho udpEcho("127.0.0.1", tcpEcho.Port());
    EventLog log;
    qv::TRelayListener listener;
    listener.SetProtocol(qv::RelayProtocol::Both);
    listener.SetDefaultPort(FreePort());
    std::vector<Fd> clients;
    for (int i = 0; i < 200; ++i)
        clients.push_back(UdpSocket("127.0.0.1"));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    // Above the clients: the listener's own descriptors (a dozen at most), the reserve, and room for
    // fewer sessions than there are clients.
    const int limit = clients.back().Get() + 12 + qv::kDescriptorReserve + 100;
    rlimit low{static_cast<rlim_t>(limit), saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    StartRelay(listener, log, tcpEcho.Port());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<std::uint16_t>(listener.ListeningPort()));
    for (Fd& client : clients)
        ::sendto(client.Get(), "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    WaitUntil([&] { return listener.DatagramsDroppedWithoutSession() + log.Connects() >= clients.size(); },
              3s);
    Fd tcp(ConnectLoopback(listener.ListeningPort()));
    EXPECT_TRUE(SendAll(tcp.Get(), "stream") && ReadExactly(tcp.Get(), 6, 3s) == "stream");
    tcp = Fd();
    listener.SetActive(false);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(log.Paired());
}

} // namespace
} // namespace qvtest

// Who may connect: networks as typed, looked up for IPv4, IPv6 and mapped clients, and the access rules
// applied to real clients of a listener before any byte is relayed.
#include "relay_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <thread>

#include "core/relay/relay_proxy_header.h"
#include "support/udp_probe.h"

namespace qvtest {
namespace {

sockaddr_storage Peer(const char* text) {
    sockaddr_storage address{};
    if (::inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr) == 1)
        address.ss_family = AF_INET;
    else if (::inet_pton(AF_INET6, text, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr) == 1)
        address.ss_family = AF_INET6;
    return address;
}

sockaddr_storage Endpoint(const char* address, int port) {
    sockaddr_storage a = Peer(address);
    if (a.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&a)->sin_port = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6*>(&a)->sin6_port = htons(static_cast<uint16_t>(port));
    return a;
}

qv::TRelayNetworkSet Networks(const std::vector<const char*>& texts) {
    qv::TRelayNetworkSet set;
    for (const char* text : texts) {
        qv::RelayNetwork network;
        std::string error;
        EXPECT_TRUE(qv::ParseNetwork(text, network, error)) << text << ": " << error;
        set.Add(network);
    }
    return set;
}

// The clients a listener refuses, as it reports them.
class Refusals {
public:
    void Attach(qv::TRelayListener& listener) {
        listener.OnRefused = [this](const qv::RelayLinkFigures& figures) {
            std::lock_guard lock(mutex_);
            figures_.push_back(figures);
        };
    }
    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return figures_.size();
    }
    // Exactly one, denied by rule, from `source` written in IPv4 form.
    ::testing::AssertionResult OneDeniedFrom(const std::string& source) const {
        std::lock_guard lock(mutex_);
        if (figures_.size() != 1)
            return ::testing::AssertionFailure() << figures_.size() << " refused";
        const std::string client = qv::EndpointText(figures_[0].client);
        if (figures_[0].reason != qv::RelayEndReason::DeniedByRule || client.rfind(source + ":", 0) != 0)
            return ::testing::AssertionFailure()
                   << client << " refused: " << qv::ReasonText(figures_[0].reason);
        return ::testing::AssertionSuccess();
    }

private:
    mutable std::mutex mutex_;
    std::vector<qv::RelayLinkFigures> figures_;
};

struct Lookup {
    const char* peer;
    bool inListed;    // in the networks below
    bool inEveryIPv4; // in 0.0.0.0/0 added to them
};

TEST(RelayNetworkTest, LookupFindsEachFamilyAndPrefix) {
    qv::TRelayNetworkSet listed = Networks({"192.168.1.0/24", "10.0.0.7", "2001:db8::/32"});
    qv::TRelayNetworkSet wide = Networks({"192.168.1.0/24", "10.0.0.7", "2001:db8::/32", "0.0.0.0/0"});
    for (const Lookup& l : {Lookup{"192.168.1.200", true, true}, Lookup{"192.168.2.1", false, true},
                            Lookup{"10.0.0.7", true, true}, Lookup{"10.0.0.8", false, true},
                            Lookup{"2001:db8:ffff::1", true, true}, Lookup{"2001:db9::1", false, false},
                            Lookup{"::ffff:192.168.1.5", true, true}, Lookup{"::1", false, false}}) {
        EXPECT_EQ(listed.Contains(Peer(l.peer)), l.inListed) << l.peer;
        EXPECT_EQ(wide.Contains(Peer(l.peer)), l.inEveryIPv4) << l.peer;
    }
    qv::RelayNetwork network;
    std::string error;
    for (const char* wrong : {"192.168.1.0/33", "example.org", "10.0.0.1/", "2001:db8::/129", "1.2.3.4/-1"})
        EXPECT_FALSE(qv::ParseNetwork(wrong, network, error)) << wrong;
    EXPECT_NE(error.find("prefix length"), std::string::npos);
}

struct Access {
    const char* name;
    std::vector<const char*> allow;
    std::vector<const char*> deny;
    bool secondSourceRelays; // 127.0.0.2; 127.0.0.1 always relays in these rows
    bool dualStack = false;  // IPv4 clients arrive on an IPv6 socket, as ::ffff:127.0.0.x
};

class RelayAccessTest : public ::testing::TestWithParam<Access> {};

TEST_P(RelayAccessTest, RefusedClientsAreClosedAtOnceWithoutEvents) {
    LocalServer server(ServerMode::Echo);
    EventLog log;
    Refusals refused;
    qv::TRelayListener listener;
    refused.Attach(listener);
    auto rules = std::make_shared<qv::RelayAccessRules>();
    rules->allow = Networks(GetParam().allow);
    rules->deny = Networks(GetParam().deny);
    listener.SetAccessRules(rules);
    if (GetParam().dualStack && Fd(ListenLoopback6(1)).Get() < 0)
        GTEST_SKIP() << "this machine has no IPv6";
    if (GetParam().dualStack)
        listener.SetListenOn({qv::RelayListenOn::Kind::AllAddresses, ""});
    StartRelay(listener, log, server.Port());
    for (const char* source : {"127.0.0.1", "127.0.0.2"}) {
        const bool relays = std::string(source) == "127.0.0.1" || GetParam().secondSourceRelays;
        Fd client(ConnectLoopbackFrom(source, listener.ListeningPort()));
        ASSERT_GE(client.Get(), 0) << source;
        if (relays) {
            EXPECT_TRUE(SendAll(client.Get(), "hi") && ReadExactly(client.Get(), 2, 5s) == "hi") << source;
        } else {
            bool eof = false;
            EXPECT_EQ(ReadToEnd(client.Get(), 5s, &eof), "") << source;
            EXPECT_TRUE(eof);
        }
    }
    const std::size_t expected = GetParam().secondSourceRelays ? 0u : 1u;
    EXPECT_TRUE(WaitUntil([&] { return refused.Count() == expected; }));
    listener.SetActive(false);
    EXPECT_EQ(log.Connects(), GetParam().secondSourceRelays ? 2 : 1);
    if (GetParam().secondSourceRelays)
        EXPECT_EQ(refused.Count(), 0u);
    else
        EXPECT_TRUE(refused.OneDeniedFrom("127.0.0.2"));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RelayAccessTest,
    ::testing::Values(Access{"NoRules", {}, {}, true}, Access{"AllowOneAddress", {"127.0.0.1"}, {}, false},
                      Access{"AllowTheNetwork", {"127.0.0.0/8"}, {}, true},
                      Access{"DenyWinsOverAllow", {"127.0.0.0/8"}, {"127.0.0.2/32"}, false},
                      Access{"DenyInTheMappedForm", {}, {"::ffff:127.0.0.2/127"}, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RelayAccessTest, TheLimitRefusesTheNextClientUntilAPlaceIsFree) {
    LocalServer server(ServerMode::Echo);
    EventLog log;
    std::atomic<int> limited{0};
    qv::TRelayListener listener;
    listener.OnRefused = [&](const qv::RelayLinkFigures& f) {
        limited += f.reason == qv::RelayEndReason::LimitReached;
    };
    auto rules = std::make_shared<qv::RelayAccessRules>();
    rules->maxConnections = 2;
    listener.SetAccessRules(rules);
    StartRelay(listener, log, server.Port());
    std::vector<Fd> clients;
    for (int i = 0; i < 2; ++i) {
        clients.emplace_back(ConnectLoopback(listener.ListeningPort()));
        ASSERT_TRUE(SendAll(clients.back().Get(), "x") && ReadExactly(clients.back().Get(), 1, 5s) == "x");
    }
    Fd third(ConnectLoopback(listener.ListeningPort()));
    bool eof = false;
    EXPECT_EQ(ReadToEnd(third.Get(), 5s, &eof), "");
    EXPECT_TRUE(eof);
    // The client is closed first, then reported.
    EXPECT_TRUE(WaitUntil([&] { return limited.load() == 1; }));
    clients.pop_back();
    ASSERT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    Fd again(ConnectLoopback(listener.ListeningPort()));
    EXPECT_TRUE(SendAll(again.Get(), "y") && ReadExactly(again.Get(), 1, 5s) == "y");
    listener.SetActive(false);
    EXPECT_TRUE(log.Paired());
}

// A deny added while clients relay ends the TCP links and UDP sessions it refuses, and only those.
TEST(RelayAccessTest, RulesAppliedLaterEndTheLinksAndSessionsTheyRefuse) {
    LocalServer tcpEcho(ServerMode::Echo);
    UdpEcho udpEcho("127.0.0.1", tcpEcho.Port());
    EventLog log;
    qv::TRelayListener listener;
    listener.SetProtocol(qv::RelayProtocol::Both);
    StartRelay(listener, log, tcpEcho.Port());
    const int port = listener.ListeningPort();
    Fd kept(ConnectLoopbackFrom("127.0.0.1", port)), denied(ConnectLoopbackFrom("127.0.0.2", port));
    Fd keptUdp = UdpSocket("127.0.0.1", 0, port), deniedUdp = UdpSocket("127.0.0.2", 0, port, "127.0.0.1");
    for (const Fd* tcp : {&kept, &denied})
        ASSERT_TRUE(SendAll(tcp->Get(), "a") && ReadExactly(tcp->Get(), 1, 5s) == "a");
    for (const Fd* udp : {&keptUdp, &deniedUdp}) {
        ASSERT_EQ(::send(udp->Get(), "b", 1, 0), 1);
        ASSERT_EQ(ReceiveDatagram(udp->Get()), std::optional<std::string>("b"));
    }
    auto rules = std::make_shared<qv::RelayAccessRules>();
    rules->deny = Networks({"127.0.0.2"});
    listener.SetAccessRules(rules);
    bool eof = false;
    EXPECT_EQ(ReadToEnd(denied.Get(), 5s, &eof), "");
    EXPECT_TRUE(eof);
    ASSERT_TRUE(WaitUntil([&] { return log.Disconnects() == 2; }));
    for (const qv::RelayLinkFigures& ended : log.Ended()) {
        EXPECT_EQ(ended.reason, qv::RelayEndReason::DeniedByRule);
        EXPECT_EQ(qv::EndpointText(ended.client).rfind("127.0.0.2:", 0), 0u);
    }
    EXPECT_TRUE(SendAll(kept.Get(), "c") && ReadExactly(kept.Get(), 1, 5s) == "c");
    ASSERT_EQ(::send(keptUdp.Get(), "d", 1, 0), 1);
    EXPECT_EQ(ReceiveDatagram(keptUdp.Get()), std::optional<std::string>("d"));
    listener.SetActive(false);
    EXPECT_TRUE(log.Paired());
}

// A connection that waits in the descriptor reserve is judged, once a place is free, by the address it
// was accepted from, even when its client has reset it meanwhile and the socket no longer knows its peer.
TEST(RelayAccessTest, AClientParkedForDescriptorsIsJudgedByTheAddressItCameFrom) {
    LocalServer server(ServerMode::Echo);
    EventLog log;
    Refusals refused;
    qv::TRelayListener listener;
    refused.Attach(listener);
    auto rules = std::make_shared<qv::RelayAccessRules>();
    rules->deny = Networks({"127.0.0.0/8"});
    listener.SetAccessRules(rules);
    Fd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    // Every descriptor from the listener's own on lands above the ceiling: the accepted connection is
    // parked. The limit is in force before the relay threads start, as it is in the program.
    const rlimit low{static_cast<rlim_t>(client.Get() + 1 + qv::kDescriptorReserve), saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    StartRelay(listener, log, server.Port());
    const std::size_t open = CountOpenFds();
    sockaddr_storage to = Endpoint("127.0.0.1", listener.ListeningPort());
    const bool connected =
        ::connect(client.Get(), reinterpret_cast<sockaddr*>(&to), sizeof(sockaddr_in)) == 0;
    const bool parked = connected && WaitUntil([&] { return CountOpenFds() == open + 1; });
    linger reset{1, 0};
    ::setsockopt(client.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    client.Reset();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_TRUE(parked);
    EXPECT_TRUE(WaitUntil([&] { return refused.Count() > 0 || log.Connects() > 0; }));
    listener.SetActive(false);
    EXPECT_EQ(log.Connects(), 0);
    EXPECT_TRUE(refused.OneDeniedFrom("127.0.0.1"));
}

} // namespace
} // namespace qvtest

namespace qvtest {
namespace {

struct Header {
    int version;
    const char* client;
    const char* local;
    std::string bytes;
};

TEST(RelayProxyHeaderTest, HeadersAreByteExact) {
    const std::string v2 = std::string("\r\n\r\n\0\r\nQUIT\n", 12) + "\x21";
    for (const Header& h : {
             Header{1, "192.0.2.1", "198.51.100.2", "PROXY TCP4 192.0.2.1 198.51.100.2 40000 8080\r\n"},
             Header{1, "2001:db8::1", "2001:db8::2", "PROXY TCP6 2001:db8::1 2001:db8::2 40000 8080\r\n"},
             Header{1, "::ffff:192.0.2.1", "::ffff:198.51.100.2",
                    "PROXY TCP4 192.0.2.1 198.51.100.2 40000 8080\r\n"},
             Header{1, "192.0.2.1", "2001:db8::2", "PROXY UNKNOWN\r\n"},
             Header{2, "192.0.2.1", "198.51.100.2",
                    v2 + std::string("\x11\x00\x0c\xc0\x00\x02\x01\xc6\x33\x64\x02\x9c\x40\x1f\x90", 15)},
             Header{2, "2001:db8::1", "2001:db8::2",
                    v2 + std::string("\x21\x00\x24", 3) +
                        std::string("\x20\x01\x0d\xb8\0\0\0\0\0\0\0\0\0\0\0\x01", 16) +
                        std::string("\x20\x01\x0d\xb8\0\0\0\0\0\0\0\0\0\0\0\x02", 16) +
                        std::string("\x9c\x40\x1f\x90", 4)},
         })
        EXPECT_EQ(qv::ProxyHeader(h.version, Endpoint(h.client, 40000), Endpoint(h.local, 8080)), h.bytes)
            << "version " << h.version << " from " << h.client;
}

// Through a relay: the destination gets the header of the real client first, once, then its bytes.
TEST(RelayProxyHeaderTest, RelayedLinkStartsWithTheHeaderOfItsClient) {
    for (int version : {1, 2}) {
        Fd listening(ListenLoopback(4));
        std::string received;
        std::thread destination([&] {
            Fd peer(::accept(listening.Get(), nullptr, nullptr));
            received = ReadToEnd(peer.Get(), 5s);
        });
        EventLog log;
        qv::TRelayListener listener;
        listener.SetProxyProtocol(version);
        StartRelay(listener, log, LocalPort(listening.Get()));
        Fd client(ConnectLoopback(listener.ListeningPort()));
        sockaddr_storage self{};
        socklen_t length = sizeof self;
        ASSERT_EQ(::getsockname(client.Get(), reinterpret_cast<sockaddr*>(&self), &length), 0);
        ASSERT_TRUE(SendAll(client.Get(), "payload"));
        client.Reset();
        destination.join();
        EXPECT_EQ(received,
                  qv::ProxyHeader(version, self, Endpoint("127.0.0.1", listener.ListeningPort())) + "payload")
            << "version " << version;
        listener.SetActive(false);
    }
}

// A destination that refuses is passed for the fallback, and skipped afterwards even once it answers.
TEST(RelayFallbackTest, ARefusedDestinationIsPassedAndThenSkipped) {
    LocalServer fallback(ServerMode::Echo);
    Fd first(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_storage any = Endpoint("127.0.0.1", 0);
    ASSERT_EQ(::bind(first.Get(), reinterpret_cast<sockaddr*>(&any), sizeof(sockaddr_in)), 0);
    EventLog log;
    qv::TRelayListener listener;
    listener.SetFallbacks({{"127.0.0.1", fallback.Port()}});
    StartRelay(listener, log, LocalPort(first.Get()));
    for (int i = 0; i < 2; ++i) {
        Fd client(ConnectLoopback(listener.ListeningPort()));
        EXPECT_TRUE(SendAll(client.Get(), "hi") && ReadExactly(client.Get(), 2, 5s) == "hi") << "link " << i;
        // From now on the first destination answers; within the skip nobody asks it.
        ASSERT_EQ(::listen(first.Get(), 4), 0);
    }
    ASSERT_TRUE(WaitUntil([&] { return fallback.Accepted() == 2; }));
    ::fcntl(first.Get(), F_SETFL, O_NONBLOCK);
    EXPECT_LT(::accept(first.Get(), nullptr, nullptr), 0);
    listener.SetActive(false);
    for (const qv::RelayLinkFigures& ended : log.Ended())
        EXPECT_EQ(qv::EndpointText(ended.destination), "127.0.0.1:" + std::to_string(fallback.Port()));
}

} // namespace
} // namespace qvtest

namespace qvtest {
namespace {

// Whether a client reaches address:port (a listener accepts it there).
bool Reaches(const char* address, int port) {
    sockaddr_storage to = Endpoint(address, port);
    Fd fd(::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const socklen_t length = to.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), length) == 0;
}

struct Listening {
    const char* name;
    qv::RelayListenOn on;
    bool v4;      // 127.0.0.1
    bool v4Other; // 127.0.0.2, another address of this machine
    bool v6;      // ::1
};

class RelayListenOnTest : public ::testing::TestWithParam<Listening> {};

TEST_P(RelayListenOnTest, ListensWhereItIsToldAndNowhereElse) {
    if (Fd probe(ListenLoopback6(1)); probe.Get() < 0)
        GTEST_SKIP() << "this machine has no ::1";
    const Listening& l = GetParam();
    LocalServer server(ServerMode::Echo);
    EventLog log;
    qv::TRelayListener listener;
    listener.SetListenOn(l.on);
    StartRelay(listener, log, server.Port());
    const int port = listener.ListeningPort();
    EXPECT_EQ(Reaches("127.0.0.1", port), l.v4);
    EXPECT_EQ(Reaches("127.0.0.2", port), l.v4Other);
    EXPECT_EQ(Reaches("::1", port), l.v6);
    listener.SetActive(false);
}

using Kind = qv::RelayListenOn::Kind;
INSTANTIATE_TEST_SUITE_P(
    Choices, RelayListenOnTest,
    ::testing::Values(Listening{"AllIPv4", {Kind::AllIPv4, ""}, true, true, false},
                      Listening{"AllAddresses", {Kind::AllAddresses, ""}, true, true, true},
                      Listening{"ThisMachine", {Kind::ThisMachine, ""}, true, false, true},
                      Listening{"OneIPv4Address", {Kind::OneAddress, "127.0.0.2"}, false, true, false},
                      Listening{"OneIPv6Address", {Kind::OneAddress, "::1"}, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qvtest

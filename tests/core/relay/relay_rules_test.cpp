// Who may connect: networks as typed, looked up for IPv4, IPv6 and mapped clients, and the access rules
// applied to real clients of a listener before any byte is relayed.
#include "relay_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>

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

// A client connecting from `source` (127.0.0.1 or 127.0.0.2) to 127.0.0.1:port.
int ConnectFrom(const char* source, int port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        return -1;
    return fd.Release();
}

struct Access {
    const char* name;
    std::vector<const char*> allow;
    std::vector<const char*> deny;
    bool secondSourceRelays; // 127.0.0.2; 127.0.0.1 always relays in these rows
};

class RelayAccessTest : public ::testing::TestWithParam<Access> {};

TEST_P(RelayAccessTest, RefusedClientsAreClosedAtOnceWithoutEvents) {
    LocalServer server(ServerMode::Echo);
    EventLog log;
    std::vector<qv::RelayLinkFigures> refused;
    std::mutex mutex;
    qv::TRelayListener listener;
    listener.OnRefused = [&](const qv::RelayLinkFigures& figures) {
        std::lock_guard lock(mutex);
        refused.push_back(figures);
    };
    auto rules = std::make_shared<qv::RelayAccessRules>();
    rules->allow = Networks(GetParam().allow);
    rules->deny = Networks(GetParam().deny);
    listener.SetAccessRules(rules);
    StartRelay(listener, log, server.Port());
    for (const char* source : {"127.0.0.1", "127.0.0.2"}) {
        const bool relays = std::string(source) == "127.0.0.1" || GetParam().secondSourceRelays;
        Fd client(ConnectFrom(source, listener.ListeningPort()));
        ASSERT_GE(client.Get(), 0) << source;
        if (relays) {
            EXPECT_TRUE(SendAll(client.Get(), "hi") && ReadExactly(client.Get(), 2, 5s) == "hi") << source;
        } else {
            bool eof = false;
            EXPECT_EQ(ReadToEnd(client.Get(), 5s, &eof), "") << source;
            EXPECT_TRUE(eof);
        }
    }
    listener.SetActive(false);
    EXPECT_EQ(log.Connects(), GetParam().secondSourceRelays ? 2 : 1);
    std::lock_guard lock(mutex);
    ASSERT_EQ(refused.size(), GetParam().secondSourceRelays ? 0u : 1u);
    if (!refused.empty()) {
        EXPECT_EQ(refused[0].reason, qv::RelayEndReason::DeniedByRule);
        EXPECT_EQ(qv::EndpointText(refused[0].client).rfind("127.0.0.2:", 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RelayAccessTest,
    ::testing::Values(Access{"NoRules", {}, {}, true}, Access{"AllowOneAddress", {"127.0.0.1"}, {}, false},
                      Access{"AllowTheNetwork", {"127.0.0.0/8"}, {}, true},
                      Access{"DenyWinsOverAllow", {"127.0.0.0/8"}, {"127.0.0.2/32"}, false}),
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
    EXPECT_EQ(limited.load(), 1);
    clients.pop_back();
    ASSERT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    Fd again(ConnectLoopback(listener.ListeningPort()));
    EXPECT_TRUE(SendAll(again.Get(), "y") && ReadExactly(again.Get(), 1, 5s) == "y");
    listener.SetActive(false);
    EXPECT_TRUE(log.Paired());
}

} // namespace
} // namespace qvtest

// A relay that would reach itself: a destination that is the mapping's own port, two mappings that
// send to each other, or an outgoing socket whose automatic port happens to be the destination's. The
// client gets nothing of its own back, and the loop ends after a link or two instead of running on.
#include "relay_harness.h"
#include "support/udp_probe.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <net/if.h>
#include <optional>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qvtest {
namespace {

enum class Way {
    OwnPort,        // the mapping's destination is its own port
    ThroughAnother, // two mappings, each the other's destination
    ByChance,       // nothing listens at the destination, whose port is the only automatic one
    OnToAnother,    // one mapping sends on to another, which sends to an echo: no loop, it relays
};

struct Itself {
    const char* name;
    qv::RelayProtocol protocol;
    Way way;
    qv::RelayEndReason reason; // of one of the links or refusals; None: it relays, no loop seen
};

// The port an outgoing socket gets in the namespace of ByChance, and the fixed ones around it.
constexpr int kOnlyAutomatic = 40000;

bool WriteFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// Moves this single-threaded process into a network namespace of its own, loopback up, where
// kOnlyAutomatic is the one port the system picks for a socket that asks for none.
bool EnterNarrowNamespace() {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWNET) != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return false;
        WriteFile("/proc/self/setgroups", "deny");
        if (!WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    }
    Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq lo{};
    std::snprintf(lo.ifr_name, sizeof lo.ifr_name, "lo");
    if (::ioctl(s.Get(), SIOCGIFFLAGS, &lo) != 0)
        return false;
    lo.ifr_flags |= IFF_UP;
    const std::string range = std::to_string(kOnlyAutomatic) + " " + std::to_string(kOnlyAutomatic);
    return ::ioctl(s.Get(), SIOCSIFFLAGS, &lo) == 0 &&
           WriteFile("/proc/sys/net/ipv4/ip_local_port_range", range);
}

// Whether a child may have a namespace of its own here (a container may forbid it).
bool NamespacesAllowed() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(EnterNarrowNamespace() ? 0 : 1);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void Bound(qv::TRelayListener& listener, qv::RelayProtocol protocol, int port) {
    // A loop that runs on meets the limit and the ceiling after a few links, not every descriptor.
    auto rules = std::make_shared<qv::RelayAccessRules>();
    rules->maxConnections = 8;
    listener.SetAccessRules(rules);
    listener.SetUdpSessionCeiling(8);
    listener.SetProtocol(protocol);
    listener.SetDefaultPort(port);
    listener.SetMappedHost("127.0.0.1");
}

void Reach(const Itself& t) {
    const bool udp = t.protocol == qv::RelayProtocol::Udp;
    const bool narrow = t.way == Way::ByChance;
    const bool relays = t.reason == qv::RelayEndReason::None;
    std::optional<LocalServer> tcpEcho; // none in the narrow namespace, where they would take its port
    std::optional<UdpEcho> udpEcho;
    EventLog log;
    EventLog otherLog;
    std::mutex mutex;
    std::vector<qv::RelayEndReason> refusals;
    qv::TRelayListener listener;
    qv::TRelayListener other;
    log.Attach(listener);
    for (qv::TRelayListener* l : {&listener, &other})
        l->OnRefused = [&](const qv::RelayLinkFigures& f) {
            std::lock_guard lock(mutex);
            refusals.push_back(f.reason);
        };
    // In the narrow namespace any port the system picks would be the destination's.
    Bound(listener, t.protocol, narrow ? kOnlyAutomatic + 1 : FreePort());
    listener.SetMappedPort(narrow ? kOnlyAutomatic : listener.DefaultPort());
    if (t.way == Way::ThroughAnother || relays) {
        otherLog.Attach(other);
        Bound(other, t.protocol, FreePort());
        other.SetMappedPort(
            relays ? (udp ? udpEcho.emplace("127.0.0.1").Port() : tcpEcho.emplace(ServerMode::Echo).Port())
                   : listener.DefaultPort());
        listener.SetMappedPort(other.DefaultPort());
        other.SetActive(true);
    }
    listener.SetActive(true);

    if (udp) {
        Fd client = UdpSocket("127.0.0.1", narrow ? kOnlyAutomatic + 2 : 0, listener.ListeningPort());
        ASSERT_EQ(::send(client.Get(), "ping", 4, 0), 4);
        const auto back = ReceiveDatagram(client.Get(), relays ? 3s : 500ms);
        EXPECT_EQ(back, relays ? std::optional<std::string>("ping") : std::nullopt);
    } else {
        Fd client(ConnectLoopback(listener.ListeningPort()));
        ASSERT_GE(client.Get(), 0);
        ASSERT_TRUE(SendAll(client.Get(), "ping"));
        bool eof = relays;
        EXPECT_EQ(relays ? ReadExactly(client.Get(), 4, 5s) : ReadToEnd(client.Get(), 5s, &eof),
                  relays ? "ping" : "");
        EXPECT_TRUE(eof);
    }
    // Two mappings going round end at whichever of them sees the loop first.
    EXPECT_TRUE(WaitUntil([&] {
        std::vector<qv::RelayEndReason> reasons;
        for (const EventLog* l : {&log, &otherLog})
            for (const qv::RelayLinkFigures& f : l->Ended())
                reasons.push_back(f.reason);
        std::lock_guard lock(mutex);
        reasons.insert(reasons.end(), refusals.begin(), refusals.end());
        const bool loop =
            std::find(reasons.begin(), reasons.end(), qv::RelayEndReason::Loop) != reasons.end();
        return relays ? !loop : std::find(reasons.begin(), reasons.end(), t.reason) != reasons.end();
    })) << "no link or refusal with the reason "
        << qv::ReasonText(t.reason);
    EXPECT_LE(log.Connects() + otherLog.Connects(), 4);
    listener.SetActive(false);
    other.SetActive(false);
    EXPECT_TRUE(log.Paired());
    EXPECT_TRUE(otherLog.Paired());
}

class RelayItselfTest : public ::testing::TestWithParam<Itself> {};

TEST_P(RelayItselfTest, ClientGetsNothingOfItsOwnBackAndTheLoopEnds) {
    if (GetParam().way != Way::ByChance)
        return Reach(GetParam());
    if (!NamespacesAllowed())
        GTEST_SKIP() << "no network namespace of its own allowed here";
    // The namespace is the child's alone: a child of its own, started afresh with no thread yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::dup2(STDERR_FILENO, STDOUT_FILENO); // the child's failures are shown with its end
            if (!EnterNarrowNamespace())
                std::_Exit(2);
            Reach(GetParam());
            std::fflush(stdout);
            std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

using P = qv::RelayProtocol;
using R = qv::RelayEndReason;
INSTANTIATE_TEST_SUITE_P(Ways, RelayItselfTest,
                         ::testing::Values(Itself{"TcpToItsOwnPort", P::Tcp, Way::OwnPort, R::Refused},
                                           Itself{"UdpToItsOwnPort", P::Udp, Way::OwnPort, R::Refused},
                                           Itself{"TcpThroughAnother", P::Tcp, Way::ThroughAnother, R::Loop},
                                           Itself{"UdpThroughAnother", P::Udp, Way::ThroughAnother, R::Loop},
                                           Itself{"TcpByChance", P::Tcp, Way::ByChance, R::Refused},
                                           Itself{"UdpByChance", P::Udp, Way::ByChance, R::Refused},
                                           Itself{"TcpOnToAnother", P::Tcp, Way::OnToAnother, R::None},
                                           Itself{"UdpOnToAnother", P::Udp, Way::OnToAnother, R::None}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qvtest

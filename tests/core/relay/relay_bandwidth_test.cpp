// A mapping's bandwidth limit through a real listener: it reaches a link already relaying, holds it near
// the limit without starving it, and links that share it get a fair part each; UDP datagrams over it
// are dropped.
#include "relay_harness.h"
#include "support/udp_probe.h"

#include <sys/socket.h>
#include <thread>

namespace qvtest {
namespace {

constexpr double kLimit = 2 << 20; // bytes per second

// One link of the relay with bytes sent one way as fast as it takes them, counted where they arrive.
class Flow {
public:
    Flow(int relayPort, int destinationListener, bool up) : client_(ConnectLoopback(relayPort)) {
        peer_ = Fd(::accept(destinationListener, nullptr, nullptr));
        const int sender = up ? client_.Get() : peer_.Get();
        const int receiver = up ? peer_.Get() : client_.Get();
        sending_ = std::thread([sender] {
            const std::string block(65536, 'b');
            while (::send(sender, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
            }
        });
        receiving_ = std::thread([this, receiver] {
            char buffer[65536];
            for (ssize_t n; (n = ::recv(receiver, buffer, sizeof buffer, 0)) > 0;)
                received_ += static_cast<std::uint64_t>(n);
        });
    }
    ~Flow() {
        ::shutdown(client_.Get(), SHUT_RDWR);
        ::shutdown(peer_.Get(), SHUT_RDWR);
        sending_.join();
        receiving_.join();
    }
    std::uint64_t Received() const { return received_.load(); }

private:
    Fd client_;
    Fd peer_;
    std::atomic<std::uint64_t> received_{0};
    std::thread sending_;
    std::thread receiving_;
};

// Bytes per second that each flow received over `period`.
std::vector<double> Rates(const std::vector<const Flow*>& flows, std::chrono::milliseconds period) {
    std::vector<std::uint64_t> before;
    for (const Flow* flow : flows)
        before.push_back(flow->Received());
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(period);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::vector<double> rates;
    for (std::size_t i = 0; i < flows.size(); ++i)
        rates.push_back(static_cast<double>(flows[i]->Received() - before[i]) / seconds);
    return rates;
}

struct Direction {
    const char* name;
    bool up; // client to destination
};

class RelayBandwidthTest : public ::testing::TestWithParam<Direction> {};

TEST_P(RelayBandwidthTest, LinksKeepToTheLimitAndShareItFairly) {
    const bool up = GetParam().up;
    Fd destination(ListenLoopback(4));
    EventLog log;
    qv::TRelayListener listener;
    StartRelay(listener, log, LocalPort(destination.Get()));
    Flow first(listener.ListeningPort(), destination.Get(), up);
    EXPECT_GT(Rates({&first}, 300ms)[0], 4 * kLimit) << "before the limit";

    listener.SetBandwidth(up ? kLimit : 0, up ? 0 : kLimit);
    std::this_thread::sleep_for(200ms); // what was relayed before drains
    const double alone = Rates({&first}, 1500ms)[0];
    EXPECT_LE(alone, 1.3 * kLimit);
    EXPECT_GE(alone, 0.6 * kLimit);

    Flow second(listener.ListeningPort(), destination.Get(), up);
    const std::vector<double> both = Rates({&first, &second}, 1500ms);
    EXPECT_LE(both[0] + both[1], 1.3 * kLimit);
    for (double rate : both)
        EXPECT_GE(rate, 0.25 * kLimit) << "first " << both[0] << ", second " << both[1];
}

const auto kDirections =
    ::testing::Values(Direction{"ClientToDestination", true}, Direction{"DestinationToClient", false});
INSTANTIATE_TEST_SUITE_P(Directions, RelayBandwidthTest, kDirections,
                         [](const auto& info) { return std::string(info.param.name); });

class RelayUdpBandwidthTest : public ::testing::TestWithParam<Direction> {};

// Datagrams are never held back for bandwidth: those over the limit are dropped whole and counted, and
// what comes through keeps to the limit, give or take a second's worth.
TEST_P(RelayUdpBandwidthTest, DatagramsOverTheLimitAreDroppedAndCounted) {
    constexpr std::uint64_t kRate = 1024;
    constexpr std::uint64_t kSent = 50;
    const bool up = GetParam().up;
    UdpEcho echo("127.0.0.1");
    EventLog log;
    qv::TRelayListener listener;
    listener.SetProtocol(qv::RelayProtocol::Udp);
    listener.SetBandwidth(up ? kRate : 0, up ? 0 : kRate);
    StartRelay(listener, log, echo.Port());
    Fd client = UdpSocket("127.0.0.1", 0, listener.ListeningPort());
    const std::string datagram(200, 'd');
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0; i < kSent; ++i)
        ASSERT_EQ(::send(client.Get(), datagram.data(), datagram.size(), 0), 200);
    std::uint64_t back = 0;
    while (ReceiveDatagram(client.Get(), 300ms))
        back += datagram.size();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(back, 0u);
    EXPECT_LE(static_cast<double>(back), kRate * (seconds + 1));
    EXPECT_TRUE(WaitUntil([&] {
        const qv::RelayLinkFigures f = listener.Snapshot().at(0);
        return (up ? f.datagramsUp : f.datagramsDown) + f.datagramsDropped == kSent;
    }));
    listener.SetActive(false);
}

INSTANTIATE_TEST_SUITE_P(Directions, RelayUdpBandwidthTest, kDirections,
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qvtest

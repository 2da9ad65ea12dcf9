// Heavy traffic through one link: nothing lost, nothing stalls.
#include "relay_harness.h"

#include <cstring>
#include <poll.h>
#include <random>
#include <sys/socket.h>

namespace qvtest {
namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        std::uint64_t v = gen();
        std::memcpy(&bytes[i], &v, 8);
    }
    return bytes;
}

// Sends data from a thread of its own, then ends the stream, while the caller reads.
class Sender {
public:
    Sender(int fd, const std::string& data)
        : thread_([fd, &data, this] {
              ok_ = SendAll(fd, data);
              ::shutdown(fd, SHUT_WR);
          }) {}
    ~Sender() { Join(); }
    bool Ok() {
        Join();
        return ok_;
    }

private:
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }

    std::atomic<bool> ok_{false};
    std::thread thread_;
};

// Reads to the end of the stream, handing each piece with its offset to check; false when a check fails.
template <typename Check> std::uint64_t ReadAndCheck(int fd, Check check) {
    std::vector<char> buf(1 << 20);
    std::uint64_t total = 0;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 30000) == 1) {
        ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        if (!check(total, buf.data(), static_cast<std::size_t>(n)))
            break;
        total += static_cast<std::uint64_t>(n);
    }
    return total;
}

class RelayLoadTest : public ::testing::Test {
protected:
    void TearDown() override {
        listener.SetActive(false);
        EXPECT_TRUE(log.Paired());
    }
    EventLog log;
    qv::TRelayListener listener;
};

TEST_F(RelayLoadTest, SixtyFourMebibytesEachWayAtOnceArriveIntact) {
    const std::string data = RandomBytes(64 << 20, 1);
    LocalServer server(ServerMode::Echo);
    StartRelay(listener, log, server.Port());
    Fd client(ConnectLoopback(listener.ListeningPort()));
    // The echo sends back while the client is still sending: both directions are full at once.
    Sender sender(client.Get(), data);
    bool intact = true;
    std::uint64_t got = ReadAndCheck(client.Get(), [&](std::uint64_t at, const char* p, std::size_t n) {
        intact = at + n <= data.size() && std::memcmp(data.data() + at, p, n) == 0;
        return intact;
    });
    EXPECT_TRUE(sender.Ok());
    EXPECT_TRUE(intact) << "bytes differ near offset " << got;
    EXPECT_EQ(got, data.size());
    EXPECT_EQ(server.BytesReceived(), data.size());
    client.Reset();
    ASSERT_TRUE(WaitUntil([&] { return log.Disconnects() == 1; }));
    EXPECT_EQ(log.Ended()[0].bytesUp, data.size());
    EXPECT_EQ(log.Ended()[0].bytesDown, data.size());
}

TEST_F(RelayLoadTest, DestinationSendingMoreThanItReadsDoesNotStallTheLink) {
    // Every byte comes back twice while the client keeps sending: a relay that blocks writing one way
    // while the other way fills up hangs here for ever.
    const std::size_t size = 256 << 20;
    const std::string data = RandomBytes(size, 2);
    LocalServer server(ServerMode::EchoTwice);
    StartRelay(listener, log, server.Port());
    Fd client(ConnectLoopback(listener.ListeningPort()));
    Sender sender(client.Get(), data);
    std::vector<char> expected;
    bool intact = true;
    std::uint64_t got = ReadAndCheck(client.Get(), [&](std::uint64_t at, const char* p, std::size_t n) {
        expected.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            expected[i] = data[(at + i) / 2];
        intact = at + n <= 2 * size && std::memcmp(expected.data(), p, n) == 0;
        return intact;
    });
    EXPECT_TRUE(sender.Ok());
    EXPECT_TRUE(intact) << "bytes differ near offset " << got;
    EXPECT_EQ(got, 2 * size);
}

// A chunk the destination takes only in part must leave the loop's scratch buffer, which the loop's next
// transfer, for any of its links, overwrites.
TEST(RelayChannelTest, RestOfAPartlyWrittenChunkSurvivesTheNextTransfer) {
    int src[2], dst[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, src), 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, dst), 0);
    Fd srcIn(src[0]), srcOut(src[1]), dstIn(dst[0]), dstOut(dst[1]);
    int small = 4096;
    ASSERT_EQ(::setsockopt(dstIn.Get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    const std::string data = RandomBytes(20000, 3); // less than a chunk: copied, not spliced
    ASSERT_TRUE(SendAll(srcOut.Get(), data));

    qv::TRelayPipes pipes;
    std::vector<char> scratch(qv::kRelayChunk);
    qv::TRelayChannel channel(pipes, scratch.data());
    channel.SetEnds(srcIn.Get(), dstIn.Get());
    std::string got;
    for (int round = 0; round < 100 && got.size() < data.size(); ++round) {
        bool readable = true, writable = true;
        int budget = 1;
        ASSERT_TRUE(channel.MoveOn(readable, false, writable, budget));
        std::fill(scratch.begin(), scratch.end(), 'X');
        char buf[65536];
        for (ssize_t n; (n = ::recv(dstOut.Get(), buf, sizeof buf, 0)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data) << "the relayed bytes differ";
}

} // namespace
} // namespace qvtest

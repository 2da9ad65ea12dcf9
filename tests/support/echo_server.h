#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

// What a LocalServer does with each connection.
enum class ServerMode {
    Echo,                   // writes back every byte; closes at the client's end of stream
    EchoTwice,              // writes every byte back twice ("ab" -> "aabb"), reading on while it writes
    Greeting,               // sends the greeting at once, then echoes
    ReplyAfterEof,          // reads to the end of stream, then sends "reply:" + what it read, and closes
    Sink,                   // reads and throws away; sends nothing; closes at the end of stream
    Ident,                  // answers every query line "<port>, <port>" with IdentReply(query)
    HalfCloseAfterGreeting, // sends the greeting, ends its sending side, then reads to the end of stream
    ResetAfterGreeting,     // sends the greeting, then resets the connection
    Hold,                   // reads to the end of stream, then keeps the connection open until destroyed
};

// An ident server's answer to one query line (given without its CR LF).
std::string IdentReply(const std::string& query);

// A TCP server on 127.0.0.1 (or ::1) and a free port, one thread per connection. Stops and joins every thread
// when destroyed.
class LocalServer {
public:
    explicit LocalServer(ServerMode mode, std::string greeting = "hello\r\n", bool ipv6 = false);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    int Port() const { return port_; }
    int Accepted() const { return accepted_.load(); }
    // Connections that have ended and been closed by the server.
    int Closed() const { return closed_.load(); }
    std::uint64_t BytesReceived() const { return bytesReceived_.load(); }

private:
    void AcceptLoop();
    void Serve(int fd);
    bool Echo(int fd, int times);

    ServerMode mode_;
    std::string greeting_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> closed_{0};
    std::atomic<std::uint64_t> bytesReceived_{0};
    std::mutex mutex_;
    std::vector<int> open_; // connections being served, shut down at destruction
    std::vector<std::thread> threads_;
    std::thread acceptThread_;
};

} // namespace qvtest

#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qvtest {

// A descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    int Get() const { return fd_; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset();

private:
    int fd_;
};

// A listening socket on 127.0.0.1 and a port the system picks.
int ListenLoopback(int backlog);
// The same on ::1.
int ListenLoopback6(int backlog);
int LocalPort(int fd);
// A free port, held (bound, not listening) for the rest of the process so that nothing else takes it
// before the test's listener does.
int FreePort();

// A blocking connection to 127.0.0.1:port; -1 when refused or not made within the time.
int ConnectLoopback(int port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
// A blocking connection from `source` (another loopback address, such as 127.0.0.2) to
// 127.0.0.1:port; -1 when refused.
int ConnectLoopbackFrom(const char* source, int port);
bool SendAll(int fd, std::string_view data);
// Reads until the peer ends the stream, fails, or the time runs out. eof tells which.
std::string ReadToEnd(int fd, std::chrono::milliseconds timeout, bool* eof = nullptr);
// Reads exactly n bytes unless the stream ends, fails or the time runs out first.
std::string ReadExactly(int fd, std::size_t n, std::chrono::milliseconds timeout);

// Polls cond until it holds or the time runs out; returns its last value.
bool WaitUntil(const std::function<bool()>& cond,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Descriptors (not counting the ports FreePort holds) and threads of this process, from /proc/self.
std::size_t CountOpenFds();
std::size_t CountThreads();

// A port on 127.0.0.1 where connections are refused: bound, never listening.
class RefusingPort {
public:
    RefusingPort();
    int Port() const { return port_; }

private:
    Fd fd_;
    int port_;
};

// A port on 127.0.0.1 where a connect hangs: the listener's accept queue is full and nobody accepts, so the
// system drops further handshakes.
class StuckPort {
public:
    StuckPort();
    int Port() const { return port_; }

private:
    Fd listener_;
    std::vector<Fd> fillers_;
    int port_;
};

} // namespace qvtest

#pragma once

#include <QString>
#include <functional>

namespace qv {

class Platform;

// Shows a socket's error reports one box at a time. A box runs a nested event loop that keeps serving
// the sockets, so a storm of failing peers would otherwise stack one box per peer without end; reports
// that arrive while a box is open are only counted, and the count goes to the held-back hook once it
// closes.
class ErrorBoxGate {
public:
    explicit ErrorBoxGate(Platform& platform) : platform_(platform) {}
    ErrorBoxGate(const ErrorBoxGate&) = delete;
    ErrorBoxGate& operator=(const ErrorBoxGate&) = delete;

    // Must not throw: it runs while a report is being made.
    void SetHeldBackHook(std::function<void(int count)> hook) { heldBackHook_ = std::move(hook); }
    void Report(const QString& text);

private:
    Platform& platform_;
    bool open_ = false;
    int heldBack_ = 0;
    std::function<void(int)> heldBackHook_;
};

} // namespace qv

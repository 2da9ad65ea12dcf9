#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <vector>

#include "remote/event_socket.h"

namespace qv {

// A listening event socket: accepts on every local address and serves each connection on the
// user-interface thread. For a new connection it raises client connect, then accept.
class ListeningEndpoint : public QObject {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void(EventConnection&)> clientConnect;
        std::function<void(EventConnection&)> accept;
        std::function<void(EventConnection&)> clientRead;
        std::function<void(EventConnection&)> clientDisconnect;
        std::function<void(EventConnection&, SocketErrorKind, int& code)> clientError;
        // Error reports of the endpoint and its connections that came while a box was open, once it
        // has closed. Must not throw.
        std::function<void(int count)> errorsHeldBack;
    };
    // Out of descriptors, accepting pauses this long rather than spinning on the waiting connection.
    static constexpr int kExhaustedWaitMs = 100;

    ListeningEndpoint(Platform& platform, int port, QObject* parent);
    ~ListeningEndpoint() override;

    void SetHandlers(Handlers handlers) { handlers_ = std::move(handlers); }
    // Throws "Can't change value while socket is active" for another port while active.
    void SetPort(int port);
    int Port() const { return port_; }
    bool Active() const { return active_; }
    // Binds and listens; a failing call throws SocketApiError and leaves the endpoint inactive.
    void Activate();
    // Closes every connection without a disconnect event, then stops listening.
    void Deactivate();
    // Connections accepted and not yet closed.
    const std::vector<EventConnection*>& Connections() const { return connections_; }

private:
    void AcceptReady();
    void Serve(int fd);
    void PauseAccepting();
    void Forget(EventConnection* connection);

    Platform& platform_;
    Handlers handlers_;
    int port_;
    int fd_ = -1;
    bool active_ = false;
    QSocketNotifier* acceptNotifier_ = nullptr;
    // One box at a time for the endpoint and all its connections.
    std::shared_ptr<ErrorBoxGate> gate_;
    std::vector<EventConnection*> connections_;
};

} // namespace qv

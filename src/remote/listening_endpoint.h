#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
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
    };

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
    void Forget(EventConnection* connection);

    Platform& platform_;
    Handlers handlers_;
    int port_;
    int fd_ = -1;
    bool active_ = false;
    QSocketNotifier* acceptNotifier_ = nullptr;
    std::vector<EventConnection*> connections_;
};

} // namespace qv

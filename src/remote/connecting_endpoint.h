#pragma once

#include <QHostInfo>
#include <functional>
#include <string>

#include "remote/event_socket.h"

namespace qv {

// A connecting event socket: resolves the host in the background, then connects without blocking.
// It is its own connection. Active means connected: activation alone does not set it.
class ConnectingEndpoint : public EventConnection {
    Q_OBJECT
public:
    struct Events {
        std::function<void(EventConnection&)> connecting; // the host is resolved, the connect starts
        std::function<void(EventConnection&)> connect;    // the connection is established
    };

    ConnectingEndpoint(Platform& platform, int port, QObject* parent);

    void SetEvents(Events events) { events_ = std::move(events); }
    // Both throw "Can't change value while socket is active" for another value while active; the
    // host is compared without regard to letter case.
    void SetHost(const std::string& host);
    void SetPort(int port);
    bool Active() const { return active_; }
    // Starts an attempt; an attempt still in progress is dropped without events.
    void Activate();
    // Closes an established connection; before that it does nothing and the attempt goes on.
    void Deactivate();

protected:
    void BeforeClose() override;
    void WriteReady() override;

private:
    void LookedUp(const QHostInfo& info);
    void ConnectFailed(int code, bool direct);
    void Established();

    Events events_;
    std::string host_;
    int port_;
    bool active_ = false;
    int lookupId_ = -1;
};

} // namespace qv

#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/error_report.h"
#include "remote/error_box_gate.h"

namespace qv {

class Platform;

// Setting a host or port to another value while the endpoint is active.
inline constexpr const char* kSocketActiveMessage = "Can't change value while socket is active";
// Throws kSocketActiveMessage for a change of host or port while the endpoint is active.
void CheckChangeAllowed(bool changes, bool active);

// Error kinds of the event sockets, in the order handlers choose their texts by.
enum class SocketErrorKind { General, Send, Receive, Connect, Disconnect, Accept, Lookup };

// "Server : Disconnected (Read Error) #" and its kin: the start of an error entry; kinds after accept
// take the general text.
const char* DisconnectedErrorText(SocketErrorKind kind);

// A failed system call: "Windows socket error: <system message> (<code>), on API '<call>'".
class SocketApiError : public std::runtime_error {
public:
    SocketApiError(int code, const char* api);
    SocketApiError(const std::string& message, int code, const char* api);
};

// One TCP connection on a non-blocking socket whose readiness the user-interface thread's event loop
// reports. Every event runs on that thread; a handler may close the connection, or have it destroyed,
// from inside any event.
class EventConnection : public QObject {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void(EventConnection&)> read;
        std::function<void(EventConnection&)> disconnect;
        // The code is changeable: 0 marks the error handled, anything else is reported afterwards.
        std::function<void(EventConnection&, SocketErrorKind, int& code)> error;
    };

    EventConnection(Platform& platform, QObject* parent);
    ~EventConnection() override;

    void SetHandlers(Handlers handlers) { handlers_ = std::move(handlers); }
    // Called after the socket has been closed, events or not.
    void SetClosedHook(std::function<void()> hook) { closedHook_ = std::move(hook); }
    // Error boxes of this connection go through the gate (by default one of its own).
    void ShareErrorBoxGate(std::shared_ptr<ErrorBoxGate> gate) { gate_ = std::move(gate); }

    bool Connected() const { return connected_; }
    bool HasSocket() const { return fd_ >= 0; }
    // Dotted IP text of the peer; empty while not connected.
    std::string PeerAddress() const { return connected_ ? peerAddress_ : std::string(); }
    // Hands all bytes to the system in one call; returns how many it took (0 when it would block).
    int SendText(std::string_view text);
    // Exactly the bytes that have arrived so far.
    std::string ReceiveText();
    // Raises the disconnect event once, then closes the socket; a second close does nothing. The socket
    // is closed even when the disconnect handler throws, and the exception passes on.
    void Close();
    // Closes the socket without any event (the owner is done with it).
    void Discard();

protected:
    Platform& platform() const { return platform_; }
    // Runs an event: the text of an exception thrown inside goes to this connection's gate.
    template <class Step> void RunEvent(Step&& step) {
        // The step may destroy this connection: the gate is held apart.
        const std::shared_ptr<ErrorBoxGate> gate = gate_;
        Catching(step, [&gate](const QString& text) { gate->Report(text); });
    }
    void Attach(int fd);
    void SetConnected();
    // Runs the error handler; returns the code as the handler left it.
    int RaiseError(SocketErrorKind kind, int code);
    // An error that arrived as a notification: unhandled, it is reported as "Asynchronous socket error".
    void NotifyError(SocketErrorKind kind, int code);
    // Runs the error handler and closes the socket, even when the handler throws; returns the code as
    // the handler left it.
    int RaiseErrorAndClose(SocketErrorKind kind, int code);
    // A failed send or receive: the error event, the close, and "Windows socket error" unless handled.
    void CallFailed(SocketErrorKind kind, int code, const char* api);
    // Steps before the disconnect event: a pending lookup is cancelled, the active flag cleared.
    virtual void BeforeClose() {}
    void WatchWrite(bool on);
    virtual void WriteReady() {}
    int Descriptor() const { return fd_; }

private:
    void ReadReady();
    void FinishClose();
    void CloseDescriptor();

    Platform& platform_;
    Handlers handlers_;
    std::function<void()> closedHook_;
    std::shared_ptr<ErrorBoxGate> gate_;
    int fd_ = -1;
    bool connected_ = false;
    bool closing_ = false;
    std::string peerAddress_;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
};

} // namespace qv

#include "remote/listening_endpoint.h"

#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv {

namespace {
// A connection the endpoint accepted; only the endpoint attaches sockets to it.
class AcceptedConnection : public EventConnection {
public:
    AcceptedConnection(Platform& platform, int fd, QObject* parent) : EventConnection(platform, parent) {
        Attach(fd);
        SetConnected();
    }
};
} // namespace

ListeningEndpoint::ListeningEndpoint(Platform& platform, int port, QObject* parent)
    : QObject(parent), platform_(platform), port_(port), gate_(std::make_shared<ErrorBoxGate>(platform)) {
    gate_->SetHeldBackHook([self = QPointer<ListeningEndpoint>(this)](int count) {
        if (self && self->handlers_.errorsHeldBack)
            self->handlers_.errorsHeldBack(count);
    });
}

ListeningEndpoint::~ListeningEndpoint() {
    Deactivate();
}

void ListeningEndpoint::SetPort(int port) {
    CheckChangeAllowed(port != port_, active_);
    port_ = port;
}

void ListeningEndpoint::Activate() {
    if (active_)
        return;
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw std::runtime_error("Can't create new socket");
    // The forced close listens again at once, while the closed connections still wait out their end.
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    const auto fail = [this](const char* api) {
        const int code = errno;
        ::close(fd_);
        fd_ = -1;
        active_ = false;
        throw SocketApiError(code, api);
    };
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail("bind");
    active_ = true;
    // The system's maximum (the kernel cuts the request down to it): a short queue drops handshakes when
    // clients arrive together, and they retry only a second later.
    if (::listen(fd_, INT_MAX) != 0)
        fail("listen");
    acceptNotifier_ = new QSocketNotifier(static_cast<qintptr>(fd_), QSocketNotifier::Read, this);
    connect(acceptNotifier_, &QSocketNotifier::activated, this, [this] {
        const std::shared_ptr<ErrorBoxGate> gate = gate_;
        Catching([this] { AcceptReady(); }, [&gate](const QString& text) { gate->Report(text); });
    });
}

void ListeningEndpoint::Deactivate() {
    for (EventConnection* connection : std::exchange(connections_, {})) {
        connection->Discard();
        connection->deleteLater();
    }
    if (acceptNotifier_) {
        acceptNotifier_->setEnabled(false);
        acceptNotifier_->deleteLater();
        acceptNotifier_ = nullptr;
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    active_ = false;
}

void ListeningEndpoint::Forget(EventConnection* connection) {
    const auto found = std::find(connections_.begin(), connections_.end(), connection);
    if (found == connections_.end())
        return;
    connections_.erase(found);
    connection->deleteLater();
}

void ListeningEndpoint::AcceptReady() {
    QPointer<ListeningEndpoint> self(this);
    while (self && fd_ >= 0) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            // A failing connection is reported on its own; the others waiting are still served.
            const std::shared_ptr<ErrorBoxGate> gate = gate_;
            Catching([this, fd] { Serve(fd); }, [&gate](const QString& text) { gate->Report(text); });
        } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // The waiting connection keeps the socket readable: give connections time to end instead.
            PauseAccepting();
            return;
        } else if (errno != EINTR && errno != ECONNABORTED) {
            return; // nothing more waiting
        }
    }
}

void ListeningEndpoint::PauseAccepting() {
    acceptNotifier_->setEnabled(false);
    QTimer::singleShot(kExhaustedWaitMs, this, [this] {
        if (acceptNotifier_)
            acceptNotifier_->setEnabled(true);
    });
}

void ListeningEndpoint::Serve(int fd) {
    auto* connection = new AcceptedConnection(platform_, fd, this);
    connections_.push_back(connection);
    connection->ShareErrorBoxGate(gate_);
    EventConnection::Handlers handlers;
    handlers.read = [this](EventConnection& c) {
        if (handlers_.clientRead)
            handlers_.clientRead(c);
    };
    handlers.disconnect = [this](EventConnection& c) {
        if (handlers_.clientDisconnect)
            handlers_.clientDisconnect(c);
    };
    handlers.error = [this](EventConnection& c, SocketErrorKind kind, int& code) {
        if (handlers_.clientError)
            handlers_.clientError(c, kind, code);
    };
    connection->SetHandlers(std::move(handlers));
    connection->SetClosedHook([this, connection] { Forget(connection); });
    QPointer<ListeningEndpoint> self(this);
    QPointer<EventConnection> alive(connection);
    if (handlers_.clientConnect)
        handlers_.clientConnect(*connection);
    if (self && alive && connection->Connected() && handlers_.accept)
        handlers_.accept(*connection);
}

} // namespace qv

#include "remote/event_socket.h"

#include <QPointer>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv {

void CheckChangeAllowed(bool changes, bool active) {
    if (changes && active)
        throw std::runtime_error(kSocketActiveMessage);
}

const char* DisconnectedErrorText(SocketErrorKind kind) {
    switch (kind) {
    case SocketErrorKind::Send:
        return "Server : Disconnected (Send Error) #";
    case SocketErrorKind::Receive:
        return "Server : Disconnected (Read Error) #";
    case SocketErrorKind::Connect:
        return "Server : Disconnected (Connect Error) #";
    case SocketErrorKind::Disconnect:
        return "Server : Disconnected (Disconnect Error) #";
    case SocketErrorKind::Accept:
        return "Server : Disconnected (Accept Error) #";
    default:
        return "Server : Disconnected (Error) #";
    }
}

SocketApiError::SocketApiError(int code, const char* api) : SocketApiError(std::strerror(code), code, api) {}

SocketApiError::SocketApiError(const std::string& message, int code, const char* api)
    : std::runtime_error("Windows socket error: " + message + " (" + std::to_string(code) + "), on API '" +
                         api + "'") {}

EventConnection::EventConnection(Platform& platform, QObject* parent)
    : QObject(parent), platform_(platform), gate_(std::make_shared<ErrorBoxGate>(platform)) {}

EventConnection::~EventConnection() {
    CloseDescriptor();
}

void EventConnection::Attach(int fd) {
    CloseDescriptor();
    fd_ = fd;
    readNotifier_ = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, this);
    readNotifier_->setEnabled(false);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { RunEvent([this] { ReadReady(); }); });
    writeNotifier_ = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this,
            [this] { RunEvent([this] { WriteReady(); }); });
}

void EventConnection::SetConnected() {
    connected_ = true;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    char text[INET_ADDRSTRLEN] = {};
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET)
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    peerAddress_ = text;
    readNotifier_->setEnabled(true);
}

void EventConnection::WatchWrite(bool on) {
    if (writeNotifier_)
        writeNotifier_->setEnabled(on);
}

int EventConnection::RaiseError(SocketErrorKind kind, int code) {
    if (handlers_.error)
        handlers_.error(*this, kind, code);
    return code;
}

void EventConnection::NotifyError(SocketErrorKind kind, int code) {
    // The handler may have destroyed this connection: only the gate is used afterwards.
    const std::shared_ptr<ErrorBoxGate> gate = gate_;
    const int left = RaiseError(kind, code);
    if (left != 0)
        gate->Report(QStringLiteral("Asynchronous socket error %1").arg(left));
}

void EventConnection::ReadReady() {
    char byte = 0;
    const ssize_t peeked = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        if (handlers_.read)
            handlers_.read(*this);
        return;
    }
    if (peeked == 0) {
        Close();
        return;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return;
    // A reset or another failure: reported, and the connection stays until something closes it.
    const int code = errno;
    readNotifier_->setEnabled(false);
    NotifyError(SocketErrorKind::Receive, code);
}

int EventConnection::SendText(std::string_view text) {
    if (fd_ < 0 || text.empty())
        return 0;
    const ssize_t sent = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0)
        return static_cast<int>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    CallFailed(SocketErrorKind::Send, errno, "send");
    return 0;
}

std::string EventConnection::ReceiveText() {
    int available = 0;
    if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &available) != 0 || available <= 0)
        return {};
    std::string text(static_cast<size_t>(available), '\0');
    const ssize_t received = ::recv(fd_, text.data(), text.size(), MSG_DONTWAIT);
    if (received >= 0) {
        text.resize(static_cast<size_t>(received));
        return text;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return {};
    CallFailed(SocketErrorKind::Receive, errno, "recv");
    return {};
}

int EventConnection::RaiseErrorAndClose(SocketErrorKind kind, int code) {
    QPointer<EventConnection> self(this);
    const auto close = [&self] {
        if (self)
            self->Close();
    };
    int left = code;
    try {
        left = RaiseError(kind, code);
    } catch (...) {
        close();
        throw;
    }
    close();
    return left;
}

void EventConnection::CallFailed(SocketErrorKind kind, int code, const char* api) {
    if (const int left = RaiseErrorAndClose(kind, code))
        throw SocketApiError(left, api);
}

void EventConnection::Close() {
    BeforeClose();
    if (fd_ < 0 || closing_)
        return;
    closing_ = true;
    // Disarmed first: whatever the handler does, an ended stream is never reported again.
    for (QSocketNotifier* notifier : {readNotifier_, writeNotifier_})
        notifier->setEnabled(false);
    QPointer<EventConnection> self(this);
    try {
        if (handlers_.disconnect)
            handlers_.disconnect(*this);
    } catch (...) {
        if (self)
            FinishClose();
        throw;
    }
    if (self)
        FinishClose();
}

void EventConnection::FinishClose() {
    closing_ = false;
    CloseDescriptor();
    if (closedHook_)
        closedHook_();
}

void EventConnection::Discard() {
    CloseDescriptor();
}

void EventConnection::CloseDescriptor() {
    // Later: a notifier may be the one whose signal is running now.
    for (QSocketNotifier** notifier : {&readNotifier_, &writeNotifier_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    connected_ = false;
    peerAddress_.clear();
}

} // namespace qv

#include "remote/connecting_endpoint.h"

#include <QPointer>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv {

namespace {
bool SameHost(const std::string& a, const std::string& b) {
    return QString::fromLatin1(a.c_str()).compare(QString::fromLatin1(b.c_str()), Qt::CaseInsensitive) == 0;
}
} // namespace

ConnectingEndpoint::ConnectingEndpoint(Platform& platform, int port, QObject* parent)
    : EventConnection(platform, parent), port_(port) {}

void ConnectingEndpoint::SetHost(const std::string& host) {
    CheckChangeAllowed(!SameHost(host, host_), active_);
    host_ = host;
}

void ConnectingEndpoint::SetPort(int port) {
    CheckChangeAllowed(port != port_, active_);
    port_ = port;
}

void ConnectingEndpoint::Activate() {
    if (active_)
        return;
    if (lookupId_ >= 0)
        QHostInfo::abortHostLookup(lookupId_);
    lookupId_ = -1;
    Discard();
    // The socket exists from now on, so closing works while the name is still being resolved.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("Can't create new socket");
    Attach(fd);
    lookupId_ =
        QHostInfo::lookupHost(QString::fromLatin1(host_.c_str()), this,
                              [this](const QHostInfo& info) { RunEvent([this, &info] { LookedUp(info); }); });
}

void ConnectingEndpoint::Deactivate() {
    if (active_)
        Close();
}

void ConnectingEndpoint::BeforeClose() {
    if (lookupId_ >= 0)
        QHostInfo::abortHostLookup(lookupId_);
    lookupId_ = -1;
    active_ = false;
}

void ConnectingEndpoint::LookedUp(const QHostInfo& info) {
    if (info.lookupId() != lookupId_ || !HasSocket())
        return;
    lookupId_ = -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    bool found = false;
    for (const QHostAddress& candidate : info.addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            address.sin_addr.s_addr = htonl(candidate.toIPv4Address());
            found = true;
            break;
        }
    }
    if (!found) {
        const int code = info.error() == QHostInfo::UnknownError ? EAI_FAIL : EAI_NONAME;
        if (const int left = RaiseErrorAndClose(SocketErrorKind::Lookup, code))
            throw SocketApiError(gai_strerror(left), left, "ASync Lookup");
        return;
    }
    QPointer<ConnectingEndpoint> self(this);
    if (events_.connecting)
        events_.connecting(*this);
    if (!self || !HasSocket())
        return;
    if (::connect(Descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        Established();
    else if (errno == EINPROGRESS || errno == EINTR)
        WatchWrite(true);
    else
        ConnectFailed(errno, true);
}

void ConnectingEndpoint::WriteReady() {
    WatchWrite(false);
    int code = 0;
    socklen_t length = sizeof code;
    if (::getsockopt(Descriptor(), SOL_SOCKET, SO_ERROR, &code, &length) != 0)
        code = errno;
    if (code == 0)
        Established();
    else
        ConnectFailed(code, false);
}

void ConnectingEndpoint::Established() {
    SetConnected();
    active_ = true;
    if (events_.connect)
        events_.connect(*this);
}

void ConnectingEndpoint::ConnectFailed(int code, bool direct) {
    if (!direct) {
        NotifyError(SocketErrorKind::Connect, code);
        return;
    }
    if (const int left = RaiseError(SocketErrorKind::Connect, code))
        throw SocketApiError(left, "connect");
}

} // namespace qv

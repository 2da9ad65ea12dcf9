#include "service/listen_failure.h"

#include <cerrno>

#include "core/relay/relay_listener.h"
#include "core/relay/relay_port_holder.h"
#include "service/mapping_service.h"

namespace qv {

namespace {
constexpr int kFirstUnprivilegedPort = 1024;

QString PrivilegedPortDetail(int port) {
    return QStringLiteral("Ports below %1 may be opened only by programs given the right to. Give it to "
                          "this program once with:\n"
                          "    sudo setcap cap_net_bind_service=+ep %2\n"
                          "or let every program open ports from %3 up with:\n"
                          "    sudo sysctl -w net.ipv4.ip_unprivileged_port_start=%3")
        .arg(kFirstUnprivilegedPort)
        .arg(QString::fromLocal8Bit(OwnExecutable().c_str()))
        .arg(port);
}

// Whether a mapping listens for TCP (or else UDP) on its port.
bool Listens(const TMappingService& service, int slot, bool udp) {
    const RelayProtocol protocol = service.Listener(slot).Protocol();
    return protocol == RelayProtocol::Both || (protocol == RelayProtocol::Udp) == udp;
}

QString PortInUseDetail(int port, int slot, const TMappingService& service, bool udp) {
    const QString what = udp ? QStringLiteral("UDP port") : QStringLiteral("Port");
    for (int other = 1; other <= TMappingService::kTimedSlot; ++other)
        if (other != slot && service.Running(other) && service.Target(other).listenPort == port &&
            Listens(service, other, udp))
            return other == TMappingService::kTimedSlot
                       ? QStringLiteral("%1 %2 is already used by the timed mapping of this program.")
                             .arg(what)
                             .arg(port)
                       : QStringLiteral("%1 %2 is already used by Mapping #%3 of this program.")
                             .arg(what)
                             .arg(port)
                             .arg(other);
    const std::optional<PortHolder> holder = FindPortHolder(port, "/proc", udp);
    if (!holder)
        return QStringLiteral("%1 %2 is already used by another program.").arg(what).arg(port);
    if (holder->outOfTime)
        return QStringLiteral("%1 %2 is held by another program.").arg(what).arg(port);
    if (holder->pid == 0)
        return QStringLiteral("%1 %2 is already used by another user's program.").arg(what).arg(port);
    return QStringLiteral("%1 %2 is already used by %3 (process %4). Stop it, or choose another port.")
        .arg(what)
        .arg(port)
        .arg(QString::fromLocal8Bit(holder->name.c_str()))
        .arg(holder->pid);
}
} // namespace

QString ListenFailureDetail(int error, int port, int slot, const TMappingService& service, bool udp) {
    if ((error == EACCES || error == EPERM) && port < kFirstUnprivilegedPort)
        return PrivilegedPortDetail(port);
    if (error == EADDRINUSE)
        return PortInUseDetail(port, slot, service, udp);
    return {};
}

} // namespace qv

#include "service/listen_failure.h"

#include <cerrno>

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

QString PortInUseDetail(int port, int slot, const TMappingService& service) {
    for (int other = 1; other <= TMappingService::kTimedSlot; ++other)
        if (other != slot && service.Running(other) && service.Target(other).listenPort == port)
            return other == TMappingService::kTimedSlot
                       ? QStringLiteral("Port %1 is already used by the timed mapping of this program.")
                             .arg(port)
                       : QStringLiteral("Port %1 is already used by Mapping #%2 of this program.")
                             .arg(port)
                             .arg(other);
    const std::optional<PortHolder> holder = FindPortHolder(port);
    if (!holder)
        return QStringLiteral("Port %1 is already used by another program.").arg(port);
    if (holder->pid == 0)
        return QStringLiteral("Port %1 is already used by another user's program.").arg(port);
    return QStringLiteral("Port %1 is already used by %2 (process %3). Stop it, or choose another port.")
        .arg(port)
        .arg(QString::fromLocal8Bit(holder->name.c_str()))
        .arg(holder->pid);
}
} // namespace

QString ListenFailureDetail(int error, int port, int slot, const TMappingService& service) {
    if ((error == EACCES || error == EPERM) && port < kFirstUnprivilegedPort)
        return PrivilegedPortDetail(port);
    if (error == EADDRINUSE)
        return PortInUseDetail(port, slot, service);
    return {};
}

} // namespace qv

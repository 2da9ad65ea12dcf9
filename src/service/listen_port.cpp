#include "service/listen_port.h"

#include "core/relay/relay_listener.h"
#include "service/mapping_service.h"

namespace qv {

QString ListenPortText(const TMappingService& service, int slot, const QString& typed) {
    const int kept = service.Listener(slot).ListeningPort();
    bool number = false;
    const int port = typed.toInt(&number);
    return kept == 0 || (number && port == kept) ? typed : QString::number(kept);
}

} // namespace qv

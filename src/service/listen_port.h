#pragma once

#include <QString>

namespace qv {

class TMappingService;

// The port a mapping listens on, or is to at its next start, as its entries name it: the typed text
// while it names that port, else the port its listener kept from its first start.
QString ListenPortText(const TMappingService& service, int slot, const QString& typed);

} // namespace qv

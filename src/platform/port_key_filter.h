#pragma once

#include <QObject>

namespace qv {

// A number a port field may hold: port 0 would listen on a port of the system's choosing, and five
// digits go past 65535.
inline bool IsValidPort(int port) {
    return port >= 1 && port <= 65535;
}

// Port fields take typed digits and backspace only. Editing keys that type no character (arrows,
// delete, shortcuts such as paste) pass untouched: pasted text is not filtered.
class PortKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace qv

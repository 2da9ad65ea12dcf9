#include "platform/port_key_filter.h"

#include <QKeyEvent>

namespace qv {

bool PortKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        const bool typesCharacter = text.size() == 1 && text[0].unicode() >= 0x20 &&
                                    !(key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
        if (typesCharacter && (text[0] < QLatin1Char('0') || text[0] > QLatin1Char('9')))
            return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace qv

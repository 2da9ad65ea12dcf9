#include "shell/application.h"

#include "platform/error_report.h"

namespace qv {

bool QuorvaneApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    if (platform_)
        Guarded(*platform_, [&] { handled = QApplication::notify(receiver, event); });
    else
        handled = QApplication::notify(receiver, event);
    return handled;
}

} // namespace qv

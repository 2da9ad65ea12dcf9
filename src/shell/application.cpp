#include "shell/application.h"

#include <cstdio>
#include <cstdlib>

#include "platform/error_report.h"

namespace qv {

namespace {
QtMessageHandler toolkitHandler = nullptr;

// While the toolkit starts, its one fatal error is finding no display it can use.
void OnStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        toolkitHandler(type, context, message);
        return;
    }
    std::fputs("quorvane: no display was found. Start it on a desktop, or run the mappings without "
               "windows with: quorvane --headless\n",
               stderr);
    std::_Exit(1);
}

int& WatchingForNoDisplay(int& argc) {
    toolkitHandler = qInstallMessageHandler(OnStartMessage);
    return argc;
}
} // namespace

QuorvaneApplication::QuorvaneApplication(int& argc, char** argv)
    : QApplication(WatchingForNoDisplay(argc), argv) {
    qInstallMessageHandler(toolkitHandler);
}

bool QuorvaneApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    if (platform_)
        Guarded(*platform_, [&] { handled = QApplication::notify(receiver, event); });
    else
        handled = QApplication::notify(receiver, event);
    return handled;
}

} // namespace qv

#include <csignal>

#include "core/relay/relay_socket.h"
#include "platform/app_title.h"
#include "platform/qt_platform.h"
#include "shell/application.h"
#include "shell/image_list.h"
#include "shell/roster.h"
#include "shell/termination_signals.h"
#include "shell/tray_window.h"

int main(int argc, char** argv) {
    // A peer that goes away mid-write must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    qv::RaiseDescriptorLimit();
    qv::QuorvaneApplication app(argc, argv);
    // The main window hides into the tray; only closing the tray window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QString::fromLatin1(qv::kAppTitle));
    QApplication::setWindowIcon(qv::ProgramIcon());

    qv::QtPlatform platform;
    app.SetPlatform(&platform);
    int result = 0;
    {
        qv::TRoster roster(platform);
        // Ending the session closes the tray window, as Exit does once confirmed.
        qv::TerminationSignals sessionEnd([&roster] { roster.Tray().close(); });
        result = QApplication::exec();
    }
    app.SetPlatform(nullptr);
    return result;
}

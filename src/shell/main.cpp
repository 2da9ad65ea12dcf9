#include <QFile>
#include <csignal>
#include <cstdio>

#include "core/profile/config_names.h"
#include "core/relay/relay_socket.h"
#include "headless/headless_mode.h"
#include "platform/app_title.h"
#include "platform/file_locations.h"
#include "platform/qt_platform.h"
#include "platform/termination_signals.h"
#include "shell/application.h"
#include "shell/command_line.h"
#include "shell/image_list.h"
#include "shell/roster.h"
#include "shell/single_instance.h"
#include "shell/tray_window.h"
#include "shell/visibility.h"

namespace {

QStringList RawArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int Answer(const qv::CommandLine& line) {
    std::fputs(line.output.toLocal8Bit().constData(), stdout);
    std::fputs(line.errors.toLocal8Bit().constData(), stderr);
    return line.exitCode;
}

} // namespace

int main(int argc, char** argv) {
    // The command line is judged before the toolkit connects to a display, so --help, --version and
    // a wrong option answer in a terminal without one; the toolkit's own options are left to it.
    const qv::CommandLine line = qv::ParseCommandLine(qv::WithoutToolkitOptions(RawArguments(argc, argv)));
    if (!line.run)
        return Answer(line);

    // A peer that goes away mid-write must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    qv::RaiseDescriptorLimit();
    if (line.headless)
        return qv::RunHeadless(argc, argv, line.config.toLocal8Bit().toStdString());
    qv::QuorvaneApplication app(argc, argv);
    // The main window hides into the tray; only closing the tray window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QString::fromLatin1(qv::kAppTitle));
    QApplication::setWindowIcon(qv::ProgramIcon());

    qv::QtPlatform platform(qv::LocateFiles(argv[0]));
    app.SetPlatform(&platform);
    // A second start of the same configuration shows the running window instead.
    qv::TSingleInstance instance(QFile::encodeName(platform.WritableDir()).toStdString() +
                                 qv::kConfigFileName);
    if (const auto outcome = instance.Claim(platform, line.copy);
        outcome != qv::TSingleInstance::Outcome::Run) {
        app.SetPlatform(nullptr);
        return outcome == qv::TSingleInstance::Outcome::Raised ? 0 : 1;
    }
    int result = 0;
    {
        qv::TRoster roster(platform);
        roster.OnRestart([&instance] { instance.Release(); });
        instance.Answer([&roster] { qv::ShowForAnotherStart(roster); });
        // Ending the session closes the tray window, as Exit does once confirmed; nobody is there
        // to answer a box, so the open ones close and the rest go to standard error.
        qv::TerminationSignals sessionEnd([&platform, &roster] {
            platform.BeginEnding();
            roster.Tray().close();
        });
        // After a user's Exit the windows' last steps (the closing log line) still report in a box, as
        // ever: the user is there to read it. After a signal, that box goes to standard error.
        result = QApplication::exec();
        // The windows' ending steps still write the configuration: it stays held until they are done.
        instance.StopAnswering();
    }
    app.SetPlatform(nullptr);
    return result;
}

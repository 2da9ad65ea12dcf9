// Exit, Restart and closing the main window, with scripted answers.
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/relay/relay_listener.h"
#include "mapping/mapping_slot.h"
#include "platform/termination_signals.h"
#include "service/switched_on.h"
#include "shell/main_window.h"
#include "shell/tray_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/tcp_probe.h"
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

using namespace qvtest;

namespace {
const QString kLeaving = QStringLiteral("You are leaving without saving!");
const QString kSureExit = QStringLiteral("Are you sure want to exit?");
const QString kSureRestart = QStringLiteral("Are you sure want to restart?");

struct Items {
    QAction* exit1;
    QAction* trayExit;
    QAction* restart1;
    QAction* trayRestart;
};
Items ItemsOf(qv::TRoster& roster) {
    return {roster.Mapping().Exit1(), roster.Tray().Exit(), roster.Mapping().Restart1(),
            roster.Tray().Restart()};
}

// Whether a running process has a handler of its own for this signal (/proc/<pid>/status).
bool CatchesSignal(qint64 pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1U;
    return false;
}
} // namespace

class ExitFlowTest : public QObject {
    Q_OBJECT

private slots:
    // The first SIGTERM starts the orderly end; repeats, also once the handler object is gone and the
    // windows are being torn down, are ignored instead of killing the process before its closing line.
    void repeatedTerminationSignalsAreIgnored() {
        int ends = 0;
        {
            qv::TerminationSignals handler([&ends] { ++ends; });
            ::raise(SIGTERM);
            QTRY_COMPARE(ends, 1);
            ::raise(SIGTERM);
            ::raise(SIGINT);
            QTest::qWait(50);
            QCOMPARE(ends, 1);
        }
        ::raise(SIGTERM);
        QCOMPARE(ends, 1);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
    }

    // A service manager's stop with the log switch on and the log unwritable: the closing line's
    // error goes to standard error and the program ends by itself, no box waiting for a click.
    void terminationWithUnwritableLogEndsWithoutWaiting() {
        RosterFixture f;
        f.StoreCurrentMarker();
        f.Store(qv::kSettingsSection, "CLLogsSave", "Save", qv::kCLLogsSaveShiftKey);
        std::filesystem::create_directory(f.LogPath());
        // The program writes beside its executable: a copy of it in the test's folder.
        const QString program = QString::fromStdString(f.dir.File("quorvane"));
        QVERIFY(QFile::copy(QStringLiteral(QV_EXECUTABLE), program));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(f.dir.File("config")));
        process.setProcessEnvironment(env);
        process.start(program, {});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(CatchesSignal(process.processId(), SIGTERM), 30000);
        process.terminate();
        const bool ended = process.waitForFinished(10000);
        if (!ended) {
            process.kill();
            process.waitForFinished();
        }
        QVERIFY(ended);
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(err.contains(QString::fromStdString(f.LogPath() + ": ")), qPrintable(err));
    }

    void exitAndRestart_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("restart");
        QTest::addColumn<bool>("unsaved");
        QTest::addColumn<bool>("yes");
        for (const char* from : {"File", "Tray"})
            for (bool restart : {false, true})
                for (bool unsaved : {false, true})
                    for (bool yes : {false, true})
                        QTest::addRow("%s %s %s %s", from, restart ? "Restart" : "Exit",
                                      unsaved ? "unsaved" : "saved", yes ? "Yes" : "No")
                            << QString::fromLatin1(from) << restart << unsaved << yes;
    }
    void exitAndRestart() {
        QFETCH(QString, from);
        QFETCH(bool, restart);
        QFETCH(bool, unsaved);
        QFETCH(bool, yes);
        RosterFixture f;
        f.StoreCurrentMarker();
        // A saved mapping, switched on below, whose port a restarted instance will want.
        f.Store(qv::kMappingSection, "IncommingPort", std::to_string(FreePort()), qv::kMappingDataShiftKey);
        f.Store(qv::kMappingSection, "OutcommingPort", "9", qv::kMappingDataShiftKey);
        f.Store(qv::kMappingSection, "OutcommingIp", "127.0.0.1", qv::kMappingDataShiftKey);
        qv::TRoster& roster = f.Start();
        qv::TMappingSlot& slot = roster.Mapping().Slot(1);
        slot.MappingEnable()->click();
        QVERIFY(slot.Listener().Active());
        if (unsaved)
            f.Find<QLineEdit>("OutcommingIp4")->setText(QStringLiteral("changed"));
        QCOMPARE(roster.Mapping().SaveIni()->isEnabled(), unsaved);

        // While the boxes are up, both menus' Exit and Restart are disabled.
        Items items = ItemsOf(roster);
        QList<bool> seenEnabled;
        if (unsaved)
            f.platform.ExpectBox(qv::BoxKind::Information);
        f.platform.Answer(yes ? qv::Answer::Yes : qv::Answer::No);
        QObject::connect(items.exit1, &QAction::changed, [&] { seenEnabled << items.exit1->isEnabled(); });

        QAction* item = from == QStringLiteral("File") ? (restart ? items.restart1 : items.exit1)
                                                       : (restart ? items.trayRestart : items.trayExit);
        item->trigger();

        QStringList expected;
        if (unsaved)
            expected << kLeaving;
        expected << (restart ? kSureRestart : kSureExit);
        QCOMPARE(f.platform.BoxTexts(), expected);
        QCOMPARE(f.platform.Boxes().last().title, QStringLiteral("Quorvane Question"));
        if (unsaved)
            QCOMPARE(f.platform.Boxes().first().title, QStringLiteral("Quorvane Information"));
        QVERIFY(!seenEnabled.isEmpty() && !seenEnabled.first());

        QCOMPARE(f.platform.EndRequests(), yes ? 1 : 0);
        QAction* own = restart ? items.restart1 : items.exit1;
        for (QAction* a : {items.exit1, items.trayExit, items.restart1, items.trayRestart})
            QCOMPARE(a->isEnabled(), a == own ? !yes : true);

        if (restart && yes) {
            QCOMPARE(f.platform.StartedProcesses().size(), 1);
            const auto& started = f.platform.StartedProcesses().first();
            QCOMPARE(started.program, f.platform.ExecutablePath());
            QCOMPARE(started.arguments, QStringList{QStringLiteral("-copy")});
            QCOMPARE(started.sleptBeforeMs, 1000);
            QVERIFY(!slot.Listener().Active());
            QVERIFY(qv::WasSwitchedOn(f.ConfigPath(), 1));
        } else {
            QVERIFY(f.platform.StartedProcesses().isEmpty());
        }
        QVERIFY(roster.Ending() == yes);
    }

    void closingWithTrayIconGoesIntoTheTray() {
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = f.Start();
        f.Find<QCheckBox>("CheckBox1")->setChecked(true);
        QVERIFY(roster.Mapping().close());
        QVERIFY(!roster.Mapping().isVisible());
        QVERIFY(f.platform.Boxes().isEmpty());
        QVERIFY(roster.Tray().Show()->isEnabled());
        QCOMPARE(roster.Tray().PopupMenu1()->defaultAction(), roster.Tray().Show());
        QVERIFY(!roster.Tray().Minimize()->isEnabled());
        QVERIFY(roster.Mapping().Minimize2()->isEnabled());
        QCOMPARE(f.platform.EndRequests(), 0);
        // The save switch reached the file at the close, not only at shutdown.
        QCOMPARE(qv::UnscrambleText(qv::ReadString(f.ConfigPath(), qv::kSettingsSection, "CLLogsSave"),
                                    qv::kCLLogsSaveShiftKey),
                 std::string("Save"));
    }

    void closingWithoutTrayIconAsksToExit_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("No") << false;
        QTest::newRow("Yes") << true;
    }
    void closingWithoutTrayIconAsksToExit() {
        QFETCH(bool, yes);
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = f.Start();
        f.Find<QCheckBox>("CheckBox4")->setChecked(false);
        f.platform.Answer(yes ? qv::Answer::Yes : qv::Answer::No);
        QVERIFY(!roster.Mapping().close());
        QCOMPARE(f.platform.BoxTexts(), QStringList{kSureExit});
        QVERIFY(roster.Mapping().isVisible());
        QCOMPARE(f.platform.EndRequests(), yes ? 1 : 0);
        if (!yes)
            for (QAction* a : {roster.Mapping().Exit1(), roster.Tray().Exit(), roster.Mapping().Restart1(),
                               roster.Tray().Restart()})
                QVERIFY(a->isEnabled());
    }

    void shutdownCloseAsksNothing() {
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = f.Start();
        f.Find<QCheckBox>("CheckBox4")->setChecked(false);
        roster.SetEnding();
        QVERIFY(roster.Mapping().close());
        QVERIFY(f.platform.Boxes().isEmpty());
    }
};

QV_TEST_MAIN(ExitFlowTest)
#include "exit_flow_test.moc"

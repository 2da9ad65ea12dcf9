// `quorvane --headless` started as a user or a service manager would, with no display at all; and
// one instance per configuration.
#include <QFile>
#include <QProcess>
#include <QTest>
#include <array>
#include <csignal>
#include <netinet/in.h>
#include <thread>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"
#include "core/profile/version_marker.h"
#include "service/mapping_rules.h"
#include "service/stored_text.h"
#include "service/switched_on.h"
#include "shell/single_instance.h"
#include "support/echo_server.h"
#include "support/fake_platform.h"
#include "support/qt_test_main.h"
#include "support/tcp_probe.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;

namespace {

struct Mapping {
    int listenPort = 0; // 0: the slot is empty
    int destinationPort = 0;
    bool on = false;
};

// A configuration as the window saves it: the grid, the switched-on slots, log saving on.
void WriteConfig(const std::string& path, const std::array<Mapping, 3>& mappings) {
    qv::ProfileBatch batch(path);
    qv::WriteVersionMarker(batch);
    std::array<bool, 6> on{};
    for (int slot = 1; slot <= 3; ++slot) {
        const Mapping& m = mappings[slot - 1];
        const QString suffix = slot == 1 ? QString() : QString::number(slot);
        qv::WriteStoredText(batch, qv::kMappingSection, "IncommingPort" + suffix,
                            QString::number(m.listenPort));
        qv::WriteStoredText(batch, qv::kMappingSection, "OutcommingPort" + suffix,
                            QString::number(m.destinationPort));
        qv::WriteStoredText(batch, qv::kMappingSection, "OutcommingIp" + suffix, QStringLiteral("127.0.0.1"));
        on[slot - 1] = m.on;
    }
    batch.Commit();
    qv::SetSwitch(path, "CLLogsSave", "Save", qv::kCLLogsSaveShiftKey, true);
    qv::StoreSwitchedOn(path, on);
}

void WriteRules(const std::string& path, const qv::AllMappingRules& rules) {
    qv::ProfileBatch batch(path);
    qv::WriteMappingRules(batch, rules);
    batch.Commit();
}

// The program with no display of any kind, as under a service manager.
struct Headless {
    qvtest::TempDir& dir;
    QProcess process;
    QString out;
    QString err;

    Headless(qvtest::TempDir& where, const QStringList& arguments) : dir(where) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir.Path().string()));
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(dir.File("quorvane")), QStringList{"--headless"} + arguments);
    }
    ~Headless() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    bool Printed(const QString& line) {
        process.waitForReadyRead(50);
        out += QString::fromLatin1(process.readAllStandardOutput());
        return out.contains(line + QLatin1Char('\n'));
    }
    bool Complained() {
        process.waitForReadyRead(50);
        err += QString::fromLocal8Bit(process.readAllStandardError());
        return !err.isEmpty();
    }
    void Signal(int signal) const { ::kill(static_cast<pid_t>(process.processId()), signal); }
};

bool Echoes(int fd, const std::string& text) {
    return qvtest::SendAll(fd, text) && qvtest::ReadExactly(fd, text.size(), 5s) == text;
}

// What becomes of the file before a reload: a new incoming port, or a copy of it stopped part-way.
enum class NewFile { NewPort, CutMidLine, CutBeforeSettings, CutAfterRulesHeader };

} // namespace

class HeadlessTest : public QObject {
    Q_OBJECT
private slots:
    // Saved mappings run; SIGHUP switches one off and another on while a link of the third flows
    // on; a second headless start and a window start are refused; SIGTERM ends in order.
    void runsReloadsAndEnds() {
        qvtest::TempDir dir;
        QVERIFY(QFile::copy(QStringLiteral(QV_EXECUTABLE), QString::fromStdString(dir.File("quorvane"))));
        qvtest::LocalServer echo(qvtest::ServerMode::Echo);
        const std::array<int, 3> ports = {qvtest::FreePort(), qvtest::FreePort(), qvtest::FreePort()};
        const std::string config = dir.File("mappings.qrvd");
        WriteConfig(
            config,
            {{{ports[0], echo.Port(), true}, {ports[1], echo.Port(), false}, {ports[2], echo.Port(), true}}});

        Headless first(dir, {"--config", QString::fromStdString(config)});
        QTRY_VERIFY(first.Printed(QStringLiteral("Enabled Mapping #3 on port : %1").arg(ports[2])));
        qvtest::Fd kept(qvtest::ConnectLoopback(ports[2]));
        QVERIFY(Echoes(kept.Get(), "before"));
        QVERIFY(Echoes(qvtest::Fd(qvtest::ConnectLoopback(ports[0])).Get(), "one"));
        QCOMPARE(qvtest::ConnectLoopback(ports[1], 1s), -1);

        WriteConfig(
            config,
            {{{ports[0], echo.Port(), false}, {ports[1], echo.Port(), true}, {ports[2], echo.Port(), true}}});
        first.Signal(SIGHUP);
        QTRY_VERIFY(first.Printed(QStringLiteral("Enabled Mapping #2 on port : %1").arg(ports[1])));
        QVERIFY(first.out.contains(QStringLiteral("Disabled Mapping #1 on port : %1").arg(ports[0])));
        QCOMPARE(qvtest::ConnectLoopback(ports[0], 1s), -1);
        QVERIFY(Echoes(qvtest::Fd(qvtest::ConnectLoopback(ports[1])).Get(), "two"));
        QVERIFY(Echoes(kept.Get(), "after"));

        Headless second(dir, {"--config", QString::fromStdString(config)});
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitCode(), 1);
        QVERIFY(second.process.readAllStandardError().contains(
            QStringLiteral("already running (pid %1)").arg(first.process.processId()).toLatin1()));

        qvtest::FakePlatform platform(QString::fromStdString(dir.Path().string()));
        platform.ExpectBox(qv::BoxKind::Notice);
        qv::TSingleInstance window(config);
        QCOMPARE(window.Claim(platform, false), qv::TSingleInstance::Outcome::Refused);
        QVERIFY(platform.Boxes().last().text.contains(QStringLiteral("without windows")));

        first.Signal(SIGTERM);
        QVERIFY(first.process.waitForFinished(10000));
        QCOMPARE(first.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process.exitCode(), 0);
        QVERIFY(first.Printed(QStringLiteral("Quorvane - Internet Port Mapping is closing.")));
        QVERIFY(qvtest::ReadAll(dir.File("CLogs.txt"))
                    .find(" Quorvane - Internet Port Mapping is closing.\r\n") != std::string::npos);
    }

    // Stored rules are in force: a denied client is closed at once and reported. On SIGHUP, changed
    // rules hold at once for the running mapping, and a new listen choice restarts it.
    void storedRulesRefuseAClient() {
        qvtest::TempDir dir;
        QVERIFY(QFile::copy(QStringLiteral(QV_EXECUTABLE), QString::fromStdString(dir.File("quorvane"))));
        qvtest::LocalServer echo(qvtest::ServerMode::Echo);
        const int port = qvtest::FreePort();
        const std::string config = dir.File(qv::kConfigFileName);
        WriteConfig(config, {{{port, echo.Port(), true}}});
        qv::AllMappingRules rules;
        rules[0].deny = QStringLiteral("127.0.0.0/8");
        WriteRules(config, rules);
        Headless run(dir, {});
        QTRY_VERIFY(run.Printed(QStringLiteral("Enabled Mapping #1 on port : %1").arg(port)));
        qvtest::Fd client(qvtest::ConnectLoopback(port));
        sockaddr_in self{};
        socklen_t length = sizeof self;
        QCOMPARE(::getsockname(client.Get(), reinterpret_cast<sockaddr*>(&self), &length), 0);
        bool eof = false;
        QCOMPARE(qvtest::ReadToEnd(client.Get(), 5s, &eof), std::string());
        QVERIFY(eof);
        QTRY_VERIFY(run.Printed(QStringLiteral("Refused on Mapping #1: 127.0.0.1:%1 (denied by rule)")
                                    .arg(ntohs(self.sin_port))));
        QCOMPARE(echo.Accepted(), 0);

        const QString disabled = QStringLiteral("Disabled Mapping #1 on port : %1").arg(port);
        rules[0] = qv::MappingRules{};
        WriteRules(config, rules);
        run.Signal(SIGHUP);
        QTRY_VERIFY(Echoes(qvtest::Fd(qvtest::ConnectLoopback(port)).Get(), "let in"));

        rules[0].listenOn = static_cast<int>(qv::RelayListenOn::Kind::OneAddress);
        rules[0].listenAddress = QStringLiteral("127.0.0.2");
        WriteRules(config, rules);
        run.Signal(SIGHUP);
        // Restarted once: the first reload changed nothing of where it listens.
        const QString enabled = QStringLiteral("Enabled Mapping #1 on port : %1\n").arg(port);
        QTRY_VERIFY(run.Printed(disabled) && run.out.count(enabled) == 2);
        QCOMPARE(run.out.count(disabled + QLatin1Char('\n')), 1);
        QCOMPARE(qvtest::ConnectLoopback(port, 1s), -1);
    }

    // A whole file's new incoming port listens at once and the old one no more. A copy cut short
    // changes nothing, however it is cut, and says why: the link of the running mapping flows on.
    void reloadTakesOnlyAWholeFile_data() {
        QTest::addColumn<NewFile>("change");
        QTest::newRow("new port") << NewFile::NewPort;
        QTest::newRow("cut in a line") << NewFile::CutMidLine;
        QTest::newRow("cut before the switches") << NewFile::CutBeforeSettings;
        QTest::newRow("cut after a header") << NewFile::CutAfterRulesHeader;
    }
    void reloadTakesOnlyAWholeFile() {
        QFETCH(NewFile, change);
        qvtest::TempDir dir;
        QVERIFY(QFile::copy(QStringLiteral(QV_EXECUTABLE), QString::fromStdString(dir.File("quorvane"))));
        qvtest::LocalServer echo(qvtest::ServerMode::Echo);
        const int port = qvtest::FreePort();
        const std::string config = dir.File(qv::kConfigFileName);
        WriteConfig(config, {{{port, echo.Port(), true}}});
        // The rules come last in the file; without them the mapping would listen elsewhere.
        qv::AllMappingRules rules;
        rules[0].listenOn = static_cast<int>(qv::RelayListenOn::Kind::OneAddress);
        rules[0].listenAddress = QStringLiteral("127.0.0.1");
        WriteRules(config, rules);
        const std::string whole = qvtest::ReadAll(config);
        Headless run(dir, {});
        QTRY_VERIFY(run.Printed(QStringLiteral("Enabled Mapping #1 on port : %1").arg(port)));
        qvtest::Fd kept(qvtest::ConnectLoopback(port));
        QVERIFY(Echoes(kept.Get(), "before"));

        const std::string rulesHeader = std::string("[") + qv::kRulesSection + "]\r\n";
        std::size_t midLine = whole.size() / 2;
        while (whole[midLine - 1] == '\n')
            --midLine;
        int listening = port;
        if (change == NewFile::NewPort) {
            listening = qvtest::FreePort();
            WriteConfig(config, {{{listening, echo.Port(), true}}});
        } else if (change == NewFile::CutMidLine) {
            qvtest::WriteAll(config, whole.substr(0, midLine));
        } else if (change == NewFile::CutBeforeSettings) {
            qvtest::WriteAll(config, whole.substr(0, whole.find(std::string("[") + qv::kSettingsSection)));
        } else {
            qvtest::WriteAll(config, whole.substr(0, whole.find(rulesHeader) + rulesHeader.size()));
        }
        run.Signal(SIGHUP);
        if (change == NewFile::NewPort) {
            QTRY_VERIFY(run.Printed(QStringLiteral("Enabled Mapping #1 on port : %1").arg(listening)));
            QCOMPARE(qvtest::ConnectLoopback(port, 1s), -1);
            QVERIFY(!run.Complained());
        } else {
            QTRY_VERIFY(run.Complained());
            QVERIFY(Echoes(kept.Get(), "after"));
        }
        QVERIFY(Echoes(qvtest::Fd(qvtest::ConnectLoopback(listening)).Get(), "listening"));
    }

    void exitsWhenNothingCanRun_data() {
        QTest::addColumn<bool>("portTaken");
        QTest::addColumn<QString>("reason");
        QTest::newRow("port taken") << true << "Mapping #1 cannot listen on port";
        QTest::newRow("nothing switched on") << false << "No mapping of";
    }
    void exitsWhenNothingCanRun() {
        QFETCH(bool, portTaken);
        QFETCH(QString, reason);
        qvtest::TempDir dir;
        QVERIFY(QFile::copy(QStringLiteral(QV_EXECUTABLE), QString::fromStdString(dir.File("quorvane"))));
        qvtest::Fd taken(qvtest::ListenLoopback(1));
        const int port = qvtest::LocalPort(taken.Get());
        WriteConfig(dir.File(qv::kConfigFileName), {{{port, 1, portTaken}}});
        Headless run(dir, {});
        QVERIFY(run.process.waitForFinished(10000));
        QCOMPARE(run.process.exitCode(), 1);
        QVERIFY(run.process.readAllStandardError().contains(reason.toLatin1()));
    }

    // A later start of the same configuration asks the running window to show itself and leaves;
    // a restarted one waits until the old one gives the configuration up.
    void secondStartShowsTheFirst_data() {
        QTest::addColumn<bool>("restarted");
        QTest::newRow("second start") << false;
        QTest::newRow("restart") << true;
    }
    void secondStartShowsTheFirst() {
        QFETCH(bool, restarted);
        qvtest::TempDir dir;
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir.Path().string()));
        qvtest::FakePlatform platform(QString::fromStdString(dir.Path().string()));
        const std::string config = dir.File(qv::kConfigFileName);
        auto first = std::make_unique<qv::TSingleInstance>(config);
        QCOMPARE(first->Claim(platform, false), qv::TSingleInstance::Outcome::Run);
        int shown = 0;
        first->Answer([&shown] { ++shown; });

        // The later start asks from a thread of its own: the first answers on this one's event loop.
        std::atomic<int> outcome{-1};
        qv::TSingleInstance second(config);
        std::thread start([&] { outcome = static_cast<int>(second.Claim(platform, restarted)); });
        if (restarted) {
            QTest::qWait(300);
            first->Release();
        }
        QTRY_VERIFY(outcome.load() >= 0);
        start.join();
        const auto expected =
            restarted ? qv::TSingleInstance::Outcome::Run : qv::TSingleInstance::Outcome::Raised;
        QCOMPARE(static_cast<qv::TSingleInstance::Outcome>(outcome.load()), expected);
        QTRY_COMPARE(shown, restarted ? 0 : 1);
        QVERIFY(platform.Boxes().isEmpty());
    }
};

QV_TEST_MAIN(HeadlessTest)
#include "headless_test.moc"

// `quorvane --headless` started as a user or a service manager would, with no display at all; and
// one instance per configuration.
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <array>
#include <csignal>
#include <filesystem>
#include <grp.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

    // `window`: the arguments alone, without --headless.
    Headless(qvtest::TempDir& where, const QStringList& arguments, bool window = false) : dir(where) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir.Path().string()));
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(dir.File("quorvane")),
                      window ? arguments : QStringList{"--headless"} + arguments);
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

constexpr uid_t kNobody = 65534;

// What keeps a start from running.
enum Fault {
    PortTaken,
    NothingOn,
    LockOfAnotherUser,
    LockIsAFolder,
    NoFile,
    FileIsAFolder,
    EmptyFile,
    NoDisplay
};

// Another user's program that listens first where an instance would answer, making the socket's
// folder its own where it can, and answers every caller as a running window does.
struct StrangerSocket {
    pid_t pid = -1;
    bool listening = false;

    explicit StrangerSocket(const std::string& path) {
        const std::string folder = std::filesystem::path(path).parent_path().string();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                ::setresuid(kNobody, kNobody, kNobody) != 0)
                ::_exit(3);
            ::mkdir(folder.c_str(), 0700);
            const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                ::listen(server, 8) != 0 || ::write(ready[1], "r", 1) != 1)
                ::_exit(4);
            for (;;) {
                const int caller = ::accept(server, nullptr, nullptr);
                char request[64];
                if (caller >= 0 && ::read(caller, request, sizeof request) > 0) [[maybe_unused]]
                    const ssize_t sent = ::write(caller, "shown\n", 6);
                ::close(caller);
            }
        }
        ::close(ready[1]);
        char byte = 0;
        listening = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~StrangerSocket() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
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

    // Each start that cannot run says why and exits with status 1; a configuration that cannot be
    // read leaves no lock behind, and a lock that is not this user's own file is not taken.
    void exitsWhenNothingCanRun_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("port taken") << int(PortTaken) << "Mapping #1 cannot listen on port";
        QTest::newRow("nothing switched on") << int(NothingOn) << "No mapping of";
        QTest::newRow("lock of another user") << int(LockOfAnotherUser) << "another user";
        QTest::newRow("lock is a folder") << int(LockIsAFolder) << "not a regular file";
        QTest::newRow("no file") << int(NoFile) << "no such file";
        QTest::newRow("file is a folder") << int(FileIsAFolder) << "a directory";
        QTest::newRow("empty file") << int(EmptyFile) << "empty";
        QTest::newRow("no display") << int(NoDisplay) << "--headless";
    }
    void exitsWhenNothingCanRun() {
        QFETCH(int, fault);
        QFETCH(QString, reason);
        qvtest::TempDir dir;
        QVERIFY(QFile::copy(QStringLiteral(QV_EXECUTABLE), QString::fromStdString(dir.File("quorvane"))));
        qvtest::Fd taken(qvtest::ListenLoopback(1));
        const int port = fault == PortTaken ? qvtest::LocalPort(taken.Get()) : qvtest::FreePort();
        const std::string config = dir.File(qv::kConfigFileName);
        const std::string lock = config + ".lock";
        if (fault == FileIsAFolder)
            QVERIFY(std::filesystem::create_directory(config));
        else if (fault == EmptyFile)
            qvtest::WriteAll(config, "");
        else if (fault != NoFile)
            WriteConfig(config, {{{port, 1, fault != NothingOn}}});
        if (fault == LockIsAFolder)
            QVERIFY(std::filesystem::create_directory(lock));
        if (fault == LockOfAnotherUser) {
            if (::geteuid() != 0)
                QSKIP("only root can give a file to another user");
            qvtest::WriteAll(lock, "4242 headless\n");
            QCOMPARE(::chown(lock.c_str(), kNobody, kNobody), 0);
        }
        Headless run(dir, {}, fault == NoDisplay);
        QVERIFY(run.process.waitForFinished(10000));
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 1);
        QVERIFY(run.process.readAllStandardError().contains(reason.toLatin1()));
        if (fault == NoFile || fault == FileIsAFolder || fault == EmptyFile)
            QVERIFY(!std::filesystem::exists(lock));
    }

    // A later start of the same configuration asks the running window to show itself and leaves;
    // a restarted one waits until the old one gives the configuration up. Where another user took
    // the place of the socket first, nobody is asked and the later start is refused.
    void secondStartShowsTheFirst_data() {
        QTest::addColumn<bool>("restarted");
        QTest::addColumn<bool>("stranger");
        QTest::newRow("second start") << false << false;
        QTest::newRow("restart") << true << false;
        QTest::newRow("socket folder of another user") << false << true;
    }
    void secondStartShowsTheFirst() {
        QFETCH(bool, restarted);
        QFETCH(bool, stranger);
        qvtest::TempDir dir;
        const QByteArray where = QByteArray::fromStdString(dir.Path().string());
        const bool temporarySet = qEnvironmentVariableIsSet("TMPDIR");
        const QByteArray temporary = qgetenv("TMPDIR");
        const auto restore = qScopeGuard([&] {
            if (temporarySet)
                qputenv("TMPDIR", temporary);
            else
                qunsetenv("TMPDIR");
        });
        qputenv("XDG_RUNTIME_DIR", where);
        if (stranger) {
            if (::geteuid() != 0)
                QSKIP("only root can act as another user");
            // No runtime folder: the socket's folder is made in a temporary folder anyone may write.
            qunsetenv("XDG_RUNTIME_DIR");
            qputenv("TMPDIR", where);
            std::filesystem::permissions(dir.Path(),
                                         std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
        }
        qvtest::FakePlatform platform(QString::fromStdString(dir.Path().string()));
        const std::string config = dir.File(qv::kConfigFileName);
        std::optional<StrangerSocket> other;
        if (stranger)
            QVERIFY(other.emplace(qv::InstanceSocketPath(config)).listening);
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
        const auto expected = stranger    ? qv::TSingleInstance::Outcome::Refused
                              : restarted ? qv::TSingleInstance::Outcome::Run
                                          : qv::TSingleInstance::Outcome::Raised;
        QCOMPARE(static_cast<qv::TSingleInstance::Outcome>(outcome.load()), expected);
        QTRY_COMPARE(shown, restarted || stranger ? 0 : 1);
        QVERIFY(platform.Boxes().isEmpty());
    }
};

QV_TEST_MAIN(HeadlessTest)
#include "headless_test.moc"

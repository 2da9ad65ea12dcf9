// The event sockets on real TCP: the events and their order, deactivation, errors and their reports.
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "remote/connecting_endpoint.h"
#include "remote/listening_endpoint.h"
#include "support/fake_platform.h"
#include "support/qt_test_main.h"
#include "support/tcp_probe.h"
#include "support/temp_dir.h"

using namespace qvtest;

namespace {

// Every event of an endpoint as one line of text.
struct Recorder {
    QStringList events;
    int errorCodeLeft = -1; // what the error handler leaves; -1 leaves the code as it came

    qv::ListeningEndpoint::Handlers Listening() {
        return {
            [this](qv::EventConnection&) { events << "connect"; },
            [this](qv::EventConnection& c) { events << "accept " + QString::fromStdString(c.PeerAddress()); },
            [this](qv::EventConnection& c) { events << "read " + QString::fromStdString(c.ReceiveText()); },
            [this](qv::EventConnection&) { events << "disconnect"; },
            Error(),
            [this](int count) { events << QStringLiteral("held back %1").arg(count); }};
    }
    qv::EventConnection::Handlers Connection() {
        return {
            [this](qv::EventConnection& c) { events << "read " + QString::fromStdString(c.ReceiveText()); },
            [this](qv::EventConnection& c) {
                events << "disconnect " + QString::fromStdString(c.PeerAddress());
            },
            Error()};
    }
    std::function<void(qv::EventConnection&, qv::SocketErrorKind, int&)> Error() {
        return [this](qv::EventConnection&, qv::SocketErrorKind kind, int& code) {
            events << QStringLiteral("error %1 %2").arg(int(kind)).arg(code);
            if (errorCodeLeft >= 0)
                code = errorCodeLeft;
        };
    }
};

void ResetOnClose(int fd) {
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(fd);
}

} // namespace

class EventSocketTest : public QObject {
    Q_OBJECT

private slots:
    void listeningEndpointEventsAndDeactivation() {
        TempDir dir;
        FakePlatform platform(QString::fromStdString(dir.Path().string()));
        Recorder record;
        qv::ListeningEndpoint server(platform, FreePort(), nullptr);
        server.SetHandlers(record.Listening());
        server.Activate();
        QVERIFY(server.Active());
        server.SetPort(server.Port()); // the same value is no change
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, server.SetPort(server.Port() + 1));

        Fd first(ConnectLoopback(server.Port()));
        QTRY_COMPARE(record.events, (QStringList{"connect", "accept 127.0.0.1"}));
        Fd second(ConnectLoopback(server.Port()));
        QTRY_COMPARE(server.Connections().size(), size_t{2});
        QVERIFY(SendAll(first.Get(), "x"));
        QTRY_VERIFY(record.events.contains("read x"));
        first.Reset();
        QTRY_COMPARE(record.events.count("disconnect"), 1);
        QCOMPARE(server.Connections().size(), size_t{1});

        // A listening socket elsewhere on the port: bind fails with the system's own number and text.
        Fd other(ListenLoopback(5));
        qv::ListeningEndpoint busy(platform, LocalPort(other.Get()), nullptr);
        try {
            busy.Activate();
            QFAIL("bind succeeded on a busy port");
        } catch (const qv::SocketApiError& error) {
            QCOMPARE(QString::fromLatin1(error.what()),
                     QStringLiteral("Windows socket error: Address already in use (98), on API 'bind'"));
        }
        QVERIFY(!busy.Active());

        // Deactivation closes the open connection without a disconnect event.
        const QStringList before = record.events;
        server.Deactivate();
        bool eof = false;
        ReadToEnd(second.Get(), std::chrono::seconds(2), &eof);
        QVERIFY(eof);
        QTest::qWait(50);
        QCOMPARE(record.events, before);
    }

    // A reset arrives as a receive error with 104; unhandled, it is reported and the connection stays.
    // A storm of them shows one box at a time: the box's own event loop serves the others, which are
    // counted instead of opening a box each.
    void resetStormIsAReceiveErrorEach_data() {
        QTest::addColumn<bool>("handled");
        QTest::newRow("handled") << true;
        QTest::newRow("unhandled") << false;
    }
    void resetStormIsAReceiveErrorEach() {
        QFETCH(bool, handled);
        constexpr int kResets = 8;
        TempDir dir;
        FakePlatform platform(QString::fromStdString(dir.Path().string()));
        platform.RunEventsInBoxes(true);
        Recorder record;
        record.errorCodeLeft = handled ? 0 : -1;
        qv::ListeningEndpoint server(platform, FreePort(), nullptr);
        server.SetHandlers(record.Listening());
        server.Activate();
        if (!handled)
            platform.ExpectBox(qv::BoxKind::Error);
        for (int i = 0; i < kResets; ++i)
            ResetOnClose(ConnectLoopback(server.Port()));
        QTRY_COMPARE(record.events.count("error 2 104"), kResets);
        QCOMPARE(platform.BoxTexts(), handled ? QStringList() : QStringList{"Asynchronous socket error 104"});
        QCOMPARE(record.events.contains(QStringLiteral("held back %1").arg(kResets - 1)), !handled);
        QVERIFY(!record.events.contains("disconnect"));
        QCOMPARE(server.Connections().size(), size_t{kResets});
    }

    void connectingEndpointAttempts() {
        TempDir dir;
        FakePlatform platform(QString::fromStdString(dir.Path().string()));
        Fd listener(ListenLoopback(5));
        Recorder record;
        qv::ConnectingEndpoint client(platform, 0, nullptr);
        client.SetHandlers(record.Connection());
        client.SetEvents({[&](qv::EventConnection&) { record.events << "connecting"; },
                          [&](qv::EventConnection&) { record.events << "connected"; }});
        client.SetHost("LOCALHOST");
        client.SetPort(LocalPort(listener.Get()));
        client.Activate();
        // Deactivating while the name is resolved does nothing: the attempt goes on.
        client.Deactivate();
        QVERIFY(client.PeerAddress().empty());
        QTRY_COMPARE(record.events, (QStringList{"connecting", "connected"}));
        QVERIFY(client.Active());
        client.SetHost("localhost"); // letter case does not count
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, client.SetHost("127.0.0.2"));
        client.Close();
        client.Close();
        QCOMPARE(record.events.count("disconnect 127.0.0.1"), 1);
        QVERIFY(!client.Active());

        // A refused connection: a connect error with the system's number, reported when left unhandled.
        RefusingPort refusing;
        record.events.clear();
        client.SetPort(refusing.Port());
        platform.ExpectBox(qv::BoxKind::Error);
        client.Activate();
        QTRY_COMPARE(record.events, (QStringList{"connecting", "error 3 111"}));
        QCOMPARE(platform.BoxTexts(), QStringList{"Asynchronous socket error 111"});
        client.Close();
        QCOMPARE(record.events.last(), QStringLiteral("disconnect "));

        // A name that cannot be resolved: a lookup error, the socket closed, then the lookup's report.
        record.events.clear();
        client.SetHost("no-such-host.invalid");
        platform.ExpectBox(qv::BoxKind::Error);
        client.Activate();
        QTRY_COMPARE_WITH_TIMEOUT(record.events, (QStringList{"error 6 -2", "disconnect "}), 10000);
        QCOMPARE(
            platform.BoxTexts().last(),
            QStringLiteral("Windows socket error: Name or service not known (-2), on API 'ASync Lookup'"));
    }

    // The listening queue is the system's longest; out of descriptors, the listener pauses instead of
    // being woken again and again by the connection it cannot take, and resumes by itself.
    void listenerAtTheSystemsLimits() {
        TempDir dir;
        FakePlatform platform(QString::fromStdString(dir.Path().string()));
        Recorder record;
        qv::ListeningEndpoint server(platform, FreePort(), nullptr);
        server.SetHandlers(record.Listening());
        server.Activate();
        auto* notifier = server.findChild<QSocketNotifier*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(notifier);
        tcp_info info{};
        socklen_t length = sizeof info;
        QCOMPARE(::getsockopt(static_cast<int>(notifier->socket()), IPPROTO_TCP, TCP_INFO, &info, &length),
                 0);
        unsigned systemMaximum = 0;
        std::ifstream("/proc/sys/net/core/somaxconn") >> systemMaximum;
        QCOMPARE(info.tcpi_sacked, systemMaximum); // a listener's longest queue

        // While descriptors are out, only code that needs none runs here: a sanitizer's own checks may
        // need one for types it has not met yet, so the loop runs once beforehand.
        int wakeUps = 0;
        connect(notifier, &QSocketNotifier::activated, notifier, [&wakeUps] { ++wakeUps; });
        const auto runEvents = [](int ms) {
            QEventLoop loop;
            QTimer::singleShot(ms, &loop, &QEventLoop::quit);
            loop.exec();
        };
        runEvents(0);
        Fd client(ConnectLoopback(server.Port()));
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &old), 0);
        rlimit exhausted = old;
        exhausted.rlim_cur = static_cast<rlim_t>(::dup(0)); // the lowest free descriptor is now out of reach
        ::close(static_cast<int>(exhausted.rlim_cur));
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &exhausted), 0);
        runEvents(300);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &old), 0);
        QVERIFY2(wakeUps >= 1 && wakeUps <= 10, qPrintable(QString::number(wakeUps)));
        QVERIFY(record.events.isEmpty());
        QTRY_COMPARE(record.events, (QStringList{"connect", "accept 127.0.0.1"}));
    }
};

QV_TEST_MAIN(EventSocketTest)
#include "event_socket_test.moc"

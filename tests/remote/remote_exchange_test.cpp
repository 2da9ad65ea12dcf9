// Two instances in one process on 127.0.0.1: instance A's server, instance B's remote window, and
// scripted servers and raw clients where a real instance cannot misbehave on purpose.
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <filesystem>
#include <sys/socket.h>

#include "core/profile/scramble.h"
#include "log/connection_log.h"
#include "mapping/advanced_window.h"
#include "mapping/mapping_slot.h"
#include "remote/remote_protocol.h"
#include "remote/remote_server.h"
#include "remote/remote_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/tcp_probe.h"

using namespace qvtest;

namespace {

const char* const kSlotFields[] = {"IncommingPort", "OutcommingPort", "OutcommingIp"};

struct Instance {
    RosterFixture f;
    qv::TRoster& r = f.Start();

    qv::TQuorvaneRemote& Remote() { return r.Remote(); }
    QLineEdit* Field(const char* name) { return r.Remote().Field(name); }
    QLineEdit* Slot(const char* base, int number) {
        return r.Mapping().findChild<QLineEdit*>(qv::TMappingSlot::ControlName(base, number));
    }
    QString Status() { return Remote().Label(10)->text(); }
    QStringList List() {
        QStringList entries;
        for (int i = 0; i < r.Mapping().Log().ListCient()->count(); ++i)
            entries << r.Mapping().Log().ListCient()->item(i)->text();
        return entries;
    }
    bool ExchangeFileExists() { return std::filesystem::exists(Remote().ExchangePath()); }

    int StartServer() {
        const int port = FreePort();
        Field("ServerName")->setText(QStringLiteral("Quorvane"));
        Field("ServerPort")->setText(QString::number(port));
        Field("ServerLogin")->setText(QStringLiteral("admin"));
        Field("ServerPassword")->setText(QStringLiteral("secret"));
        Remote().RemoteActive()->setChecked(true);
        return port;
    }
    void Connect(int port, const char* login = "admin") {
        Field("RemoteIp")->setText(QStringLiteral("127.0.0.1"));
        Field("RemotePort")->setText(QString::number(port));
        Field("RemoteLogin")->setText(QString::fromLatin1(login));
        Field("RemotePassword")->setText(QStringLiteral("secret"));
        Remote().RemoteConnect()->click();
    }
};

// Reads what has arrived without waiting; true once the peer has closed.
bool PeerClosed(int fd, std::string* received = nullptr) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0 && received)
            received->append(chunk, static_cast<size_t>(n));
        if (n <= 0)
            return n == 0;
    }
}

} // namespace

class RemoteExchangeTest : public QObject {
    Q_OBJECT

private slots:
    void fullExchange_data() {
        QTest::addColumn<QString>("serverVersion");
        QTest::addColumn<bool>("holdQuestion");
        QTest::newRow("equal versions, question held past the disconnection")
            << "1.3 Build 47 07 11 2002" << true;
        QTest::newRow("different versions") << "9.9 Build 1" << false;
    }
    void fullExchange() {
        QFETCH(QString, serverVersion);
        QFETCH(bool, holdQuestion);
        Instance a, b;
        for (int n : {1, 2, 3, 5, 6})
            for (const char* base : kSlotFields)
                a.Slot(base, n)->setText(QStringLiteral("%1%2=;").arg(base).arg(n));
        a.r.MappingPlus().TimerStop()->setText(QStringLiteral("2000"));
        a.r.Mapping().findChild<QLabel*>(QStringLiteral("Version"))->setText(serverVersion);
        b.Slot("IncommingPort", 4)->setText(QStringLiteral("4444"));
        QSignalSpy progress(b.Remote().ProgressBar1(), &QProgressBar::valueChanged);

        b.Connect(a.StartServer());
        QCOMPARE(b.Status(), QStringLiteral("Connecting..."));
        QTRY_VERIFY(b.Remote().RemoteGet()->isEnabled());
        QCOMPARE(b.Status(), QStringLiteral("Connected!"));
        QCOMPARE(progress.mid(0, 3), (QList<QVariantList>{{2}, {32}, {100}}));
        QCOMPARE(b.Remote().Label(11)->text(),
                 QStringLiteral("Welcome on Quorvane Mapping Server by Quorvane."));
        QVERIFY(a.List().contains(QStringLiteral("Server : Connection Remote Ip : 127.0.0.1")));
        QVERIFY(b.List().contains(QStringLiteral("Connection Remote Ip/Host : 127.0.0.1")));

        const bool sameVersion = serverVersion == QLatin1String("1.3 Build 47 07 11 2002");
        if (!sameVersion)
            b.f.platform.ExpectBox(qv::BoxKind::Notice);
        b.f.platform.Answer(qv::Answer::Yes);
        if (holdQuestion) {
            // The question keeps the events going: the countdown ends the connection at 9 s, and the
            // exchange file outlives Timer9's 6 s because Timer8 holds it back.
            b.f.platform.WhileAsking([&] {
                QTRY_COMPARE_WITH_TIMEOUT(b.Status(), QStringLiteral("Disconnected"), 10000);
                QTRY_VERIFY_WITH_TIMEOUT(b.Remote().Label(10)->isHidden(), 3000);
                QTest::qWait(6500);
                QVERIFY(b.ExchangeFileExists());
            });
        }
        b.Remote().RemoteGet()->click();
        QStringList expected{
            QStringLiteral("Are you sure remplace your current settings with the remote configuration?")};
        if (!sameVersion)
            expected.prepend(QStringLiteral("Your Software Version : 1.3 Build 47 07 11 2002 2.1.\r\n"
                                            "Server Software Version : 9.9 Build 1 2.1."));
        QCOMPARE(b.f.platform.BoxTexts(), expected);
        for (int n = 1; n <= 6; ++n)
            for (const char* base : kSlotFields)
                QCOMPARE(b.Slot(base, n)->text(), a.Slot(base, n)->text());
        QCOMPARE(b.r.MappingPlus().TimerStop()->text(), QStringLiteral("2000"));
        QCOMPARE(b.List().filter(QStringLiteral("Disabled Mapping #")).size(), 6);
        QVERIFY(!b.ExchangeFileExists());
        QVERIFY(!b.Remote().RemoteGet()->isEnabled());
        if (holdQuestion) {
            QVERIFY(a.List().contains(QStringLiteral("Server : Disconnected Remote Ip : 127.0.0.1")));
            QVERIFY(b.List().contains(QStringLiteral("Disconnected Remote Ip : 127.0.0.1")));
        }
    }

    void scriptedServers_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<QString>("loginBox");
        QTest::addColumn<QString>("getBox");
        const auto text = [](const std::string& login, const char* marker) {
            std::string reply =
                qv::GreetingLines("S", "1.3 Build 47 07 11 2002") +
                qv::ConfigurationLines([&](const std::string& control) {
                    return control == "ServerLogin" ? login : control == "ServerPassword" ? "secret" : "";
                });
            reply.replace(reply.find("VLQRVNVL =") + 10, 3, qv::ScrambleText(marker, qv::kProtocolShiftKey));
            return QByteArray::fromStdString(reply);
        };
        QTest::newRow("silent") << QByteArray() << false << QString() << QString();
        QTest::newRow("junk stream") << QByteArray(1 << 20, '\xff') << false << QString() << QString();
        QTest::newRow("closes after the greeting") << QByteArray::fromStdString(qv::GreetingLines("S", "1.3"))
                                                   << true << "Invalid remote login." << QString();
        QTest::newRow("login differs in case")
            << text("Admin", "2.1") << false << "Invalid remote login." << QString();
        QTest::newRow("marker 2.0")
            << text("admin", "2.0") << false << QString()
            << "It is a old/new server (The new file is encrypted for more security). Error "
               "loading the configuration file.\r\nThis file version is not 2.1.\r\nFile "
               "version : 2.0.";
    }
    void scriptedServers() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, closeAfter);
        QFETCH(QString, loginBox);
        QFETCH(QString, getBox);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* socket = server.nextPendingConnection();
            socket->write(reply);
            // Closed once the client's lines are read: unread bytes would make the close a reset.
            if (closeAfter)
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->readAll();
                    socket->disconnectFromHost();
                });
        });
        Instance b;
        b.Slot("IncommingPort", 1)->setText(QStringLiteral("1111"));
        if (!loginBox.isEmpty())
            b.f.platform.ExpectBox(qv::BoxKind::Notice);
        b.Connect(server.serverPort());
        QTRY_VERIFY(b.Status() == QLatin1String("Disconnected") || b.Remote().RemoteGet()->isEnabled());
        QCOMPARE(b.f.platform.BoxTexts(), loginBox.isEmpty() ? QStringList() : QStringList{loginBox});
        QCOMPARE(b.Remote().RemoteGet()->isEnabled(), !getBox.isEmpty());
        if (!getBox.isEmpty()) {
            b.f.platform.ExpectBox(qv::BoxKind::Notice);
            b.Remote().RemoteGet()->click();
            QCOMPARE(b.f.platform.BoxTexts().last(), getBox);
            QVERIFY(!b.Remote().RemoteGet()->isEnabled());
        }
        QVERIFY(!b.ExchangeFileExists() || getBox.isEmpty());
        QCOMPARE(b.Slot("IncommingPort", 1)->text(), QStringLiteral("1111"));
        // An exchange that has ended keeps nothing of what it received.
        QCOMPARE(b.Remote().ClientBuffer().Bytes().empty(), b.Status() == QLatin1String("Disconnected"));
    }

    void refusedConnection_data() {
        QTest::addColumn<bool>("logOn");
        QTest::newRow("log off") << false;
        QTest::newRow("log on") << true;
    }
    void refusedConnection() {
        QFETCH(bool, logOn);
        Instance b;
        RefusingPort refusing;
        b.r.Mapping().Log().CheckBox1()->setChecked(logOn);
        b.f.platform.ExpectBox(qv::BoxKind::Notice);
        if (!logOn)
            b.f.platform.ExpectBox(qv::BoxKind::Error);
        b.Connect(refusing.Port());
        const QString error =
            QStringLiteral("Server : Disconnected (Connect Error) #111 Remote Ip : 127.0.0.1 Port : %1")
                .arg(refusing.Port());
        QTRY_COMPARE(b.f.platform.PendingScript(), 0);
        QStringList boxes{error +
                          QStringLiteral("\r\nCheck your remote ip adress and your remote port number.")};
        if (!logOn)
            boxes << QStringLiteral("Asynchronous socket error 111");
        QCOMPARE(b.f.platform.BoxTexts(), boxes);
        QVERIFY(b.List().contains(error));
        QVERIFY(b.List().contains(QStringLiteral("Disconnected Remote Ip : ")));
        QCOMPARE(b.Status(), QStringLiteral("Disconnected"));
        const std::string log =
            std::filesystem::exists(b.f.LogPath()) ? ReadAll(b.f.LogPath()) : std::string();
        QCOMPARE(log.find(" Disconnected Error #111 Remote Ip : \r\n") != std::string::npos, logOn);
    }

    // Neither the countdown nor "Disconnect" stops an attempt that has not connected yet.
    void pendingAttempt_data() {
        QTest::addColumn<bool>("countdown");
        QTest::newRow("countdown reaches 0") << true;
        QTest::newRow("Disconnect pressed") << false;
    }
    void pendingAttempt() {
        QFETCH(bool, countdown);
        Instance b;
        StuckPort stuck;
        b.Connect(stuck.Port());
        QTRY_COMPARE(b.Remote().ProgressBar1()->value(), 2);
        if (countdown) {
            b.Remote().Label(14)->setText(QStringLiteral("1"));
            QTRY_COMPARE_WITH_TIMEOUT(b.Status(), QStringLiteral("Disconnected"), 3000);
            QVERIFY(b.Remote().RemoteConnect()->isEnabled());
        } else {
            b.Remote().RemoteDisconnect()->click();
            QCOMPARE(b.Status(), QStringLiteral("Disconnecting...."));
            QVERIFY(!b.Remote().RemoteConnect()->isEnabled());
        }
        QVERIFY(!b.Remote().RemoteDisconnect()->isEnabled());
        QTest::qWait(300);
        QVERIFY(b.Remote().ClientSocket1().HasSocket());
        QVERIFY(b.f.platform.Boxes().isEmpty());
    }

    void closingDuringAnExchange_data() {
        QTest::addColumn<bool>("whileAsking");
        QTest::newRow("connection established") << false;
        QTest::newRow("question open") << true;
    }
    void closingDuringAnExchange() {
        QFETCH(bool, whileAsking);
        Instance a, b;
        a.Slot("IncommingPort", 1)->setText(QStringLiteral("8080"));
        b.Slot("IncommingPort", 1)->setText(QStringLiteral("1111"));
        b.Connect(a.StartServer());
        QTRY_VERIFY(b.Remote().RemoteGet()->isEnabled());
        if (whileAsking) {
            b.f.platform.Answer(qv::Answer::Yes);
            b.f.platform.WhileAsking([&] { b.Remote().close(); });
            b.Remote().RemoteGet()->click();
        } else {
            b.Remote().close();
        }
        QVERIFY(b.List().contains(QStringLiteral("Disconnected Remote Ip : 127.0.0.1")));
        QVERIFY(!b.ExchangeFileExists());
        QVERIFY(!b.Remote().RemoteGet()->isEnabled());
        QCOMPARE(b.Slot("IncommingPort", 1)->text(), QStringLiteral("1111"));
        QVERIFY(a.r.Mapping().RemoteServer().ServerSocket1().Active());
    }

    void forcedClose_data() {
        QTest::addColumn<bool>("firstLeaves");
        QTest::newRow("both closed 9.5 s after the first acceptance") << false;
        QTest::newRow("a disconnection disarms Timer4") << true;
    }
    void forcedClose() {
        QFETCH(bool, firstLeaves);
        Instance a;
        const int port = a.StartServer();
        QElapsedTimer clock;
        Fd first(ConnectLoopback(port));
        QTRY_VERIFY(a.r.Mapping().Timer(4)->Enabled());
        clock.start();
        QTest::qWait(2000);
        Fd second(ConnectLoopback(port));
        const QString entry = QStringLiteral("Server : Connection Remote Ip : 127.0.0.1");
        QTRY_COMPARE(a.List().count(entry), 2);
        if (firstLeaves) {
            // Read first: a close with unread bytes is a reset, which the server reports as an error.
            std::string reply;
            QTRY_VERIFY((PeerClosed(first.Get(), &reply), reply.find("PLQRVNPL =") != std::string::npos));
            first.Reset();
            QTRY_VERIFY(a.List().contains(QStringLiteral("Server : Disconnected Remote Ip : 127.0.0.1")));
            QVERIFY(!a.r.Mapping().Timer(4)->Enabled());
            QTest::qWait(200);
            QVERIFY(!PeerClosed(second.Get()));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(PeerClosed(first.Get()) && PeerClosed(second.Get()), 10000);
        QVERIFY2(clock.elapsed() >= 9300, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(a.List().count(entry), 2); // closed without disconnection events
        QVERIFY(a.r.Mapping().RemoteServer().ServerSocket1().Active());
        Fd again(ConnectLoopback(port));
        QVERIFY(again.Get() >= 0);
    }

    // A log line that cannot be written fails the connection's events; its socket is closed all the
    // same, so the ended stream is not reported again and again.
    void failedLogWriteStillClosesTheConnection() {
        Instance a;
        a.r.Mapping().Log().CheckBox1()->setChecked(true);
        const int port = a.StartServer();
        std::filesystem::remove(a.f.LogPath());
        std::filesystem::create_directory(a.f.LogPath());
        a.f.platform.ExpectBox(qv::BoxKind::Error);
        a.f.platform.ExpectBox(qv::BoxKind::Error);
        Fd client(ConnectLoopback(port));
        QTRY_COMPARE(a.f.platform.Boxes().size(), 1); // the connection's event
        const QString failure = a.f.platform.BoxTexts().first();
        QVERIFY2(failure.startsWith(QString::fromStdString(a.f.LogPath())), qPrintable(failure));
        ::shutdown(client.Get(), SHUT_WR);
        QTRY_VERIFY(PeerClosed(client.Get()));
        QCOMPARE(a.f.platform.BoxTexts(), (QStringList{failure, failure})); // the disconnection's event
        QVERIFY(a.r.Mapping().RemoteServer().ServerSocket1().Connections().empty());
        QVERIFY(a.r.Mapping().RemoteServer().ServerSocket1().Active());
        std::filesystem::remove(a.f.LogPath()); // the closing line can be written again
    }

    // The exchange file holds the peer's login and password: one that stays is reported by name.
    void undeletableExchangeFileIsReported() {
        Instance b;
        const std::string path = b.Remote().ExchangePath();
        std::filesystem::create_directories(path + "/kept"); // a folder with something in it stays
        b.f.platform.ExpectBox(qv::BoxKind::Error);
        b.Remote().RemoteDisconnectClick();
        QCOMPARE(b.Status(), QStringLiteral("Disconnecting...."));
        QTRY_COMPARE(b.f.platform.Boxes().size(), 1);
        QVERIFY2(b.f.platform.BoxTexts().first().startsWith(QStringLiteral("Unable to delete ") +
                                                            QString::fromStdString(path) +
                                                            QStringLiteral(": ")),
                 qPrintable(b.f.platform.BoxTexts().first()));
        std::filesystem::remove_all(path);
    }

    void garbageNeverChangesTheServer() {
        Instance a;
        a.Slot("OutcommingIp", 2)->setText(QStringLiteral("kept"));
        const int port = a.StartServer();
        Fd junk(ConnectLoopback(port));
        std::string garbage = "OutcommingIp2 =zzz\r\nLQRVNL =x\r\n";
        for (int i = 0; garbage.size() < 256 * 1024; ++i)
            garbage += static_cast<char>((i * 7919) & 0xFF);
        size_t total = 0;
        while (total < 4u * 1024 * 1024) {
            const ssize_t sent =
                ::send(junk.Get(), garbage.data(), garbage.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            total += sent > 0 ? static_cast<size_t>(sent) : 0;
            QTest::qWait(1);
        }
        // Another client is served whole meanwhile.
        Fd other(ConnectLoopback(port));
        std::string reply;
        QTRY_VERIFY((PeerClosed(other.Get(), &reply), reply.find("PLQRVNPL =") != std::string::npos));
        QVERIFY(reply.ends_with("PLQRVNPL =" + qv::ScrambleText("secret", qv::kServerPasswordShiftKey)));
        QTest::qWait(200);
        const auto* buffer1 = a.r.Mapping().findChild<QPlainTextEdit*>(QStringLiteral("Buffer1"));
        QVERIFY(buffer1->toPlainText().size() <= qv::TRemoteServer::kBuffer1Limit);
        QCOMPARE(a.Slot("OutcommingIp", 2)->text(), QStringLiteral("kept"));
        QCOMPARE(a.Field("ServerLogin")->text(), QStringLiteral("admin"));
        for (const QString& entry : a.List())
            QVERIFY2(entry.startsWith(QLatin1String("Server : ")) ||
                         entry.startsWith(QLatin1String("Remote Server")),
                     qPrintable(entry));
    }
};

QV_TEST_MAIN(RemoteExchangeTest)
#include "remote_exchange_test.moc"

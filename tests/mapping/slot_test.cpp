// The six mapping slots end to end: real TCP on 127.0.0.1 through the main window.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <clocale>
#include <filesystem>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

#include "connections/connections_window.h"
#include "connections/mapping_summary.h"
#include "core/profile/config_names.h"
#include "core/profile/scramble.h"
#include "core/relay/relay_listener.h"
#include "log/connection_log.h"
#include "mapping/mapping_slot.h"
#include "prefs/settings_window.h"
#include "service/connection_event_queue.h"
#include "service/switched_on.h"
#include "shell/main_window.h"
#include "support/echo_server.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/tcp_probe.h"

using namespace qvtest;
using namespace std::chrono_literals;

namespace {

QString Name(const char* base, int slot) {
    return slot == 1 ? QString::fromLatin1(base) : QString::fromLatin1(base) + QString::number(slot);
}

// Drives one program instance: fills and switches slots, reads counts, list and log file.
struct Program : RosterFixture {
    Program() {
        StoreCurrentMarker();
        Start();
        // The start line is due at the first tick; saving is still off then, so the file stays ours.
        QTRY_VERIFY(!roster->Mapping().Timer(7)->Enabled());
    }
    QLineEdit* Field(const char* base, int slot) const {
        return Find<QLineEdit>(Name(base, slot).toLatin1());
    }
    QPushButton* Button(const char* base, int slot) const {
        return Find<QPushButton>(Name(base, slot).toLatin1());
    }
    void Fill(int slot, int in, int out, const QString& host = QStringLiteral("127.0.0.1")) const {
        Field("IncommingPort", slot)->setText(QString::number(in));
        Field("OutcommingPort", slot)->setText(QString::number(out));
        Field("OutcommingIp", slot)->setText(host);
    }
    void Enable(int slot) const { Button("MappingEnable", slot)->click(); }
    // Fills the slot with a free incoming port towards 127.0.0.1:destination, switches it on, and
    // returns the incoming port.
    int SwitchOn(int slot, int destination) const {
        const int port = FreePort();
        Fill(slot, port, destination);
        Enable(slot);
        return port;
    }
    void Disable(int slot) const { Button("MappingDisable", slot)->click(); }
    QString Count(int slot) const {
        return roster->Mapping().findChild<QLabel*>(QStringLiteral("NCMapping%1").arg(slot))->text();
    }
    QString Total() const { return roster->Mapping().StatusPanel(1)->text(); }
    void SaveLog(bool on) const { Find<QCheckBox>("CheckBox1")->setChecked(on); }
    QStringList LogLines() const {
        QStringList lines = QString::fromLatin1(ReadAll(LogPath())).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
};

// A client of the relay: connects, then sends and reads through it.
Fd Client(int port) {
    return Fd(ConnectLoopback(port));
}

bool RoundTrip(const Fd& client, const std::string& text) {
    return SendAll(client.Get(), text) && ReadExactly(client.Get(), text.size(), 5s) == text;
}

const QRegularExpression kFullLine(QStringLiteral(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d (.*)$)"));
const QRegularExpression kTimeOnlyLine(QStringLiteral(R"(^\d\d:\d\d:\d\d (.*)$)"));

} // namespace

class SlotTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Log lines are checked under the C locale: month/day/two-digit year, 24-hour clock.
        std::setlocale(LC_TIME, "C");
    }

    void oneClientOnSlot2() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        p.SaveLog(true);
        const int port = p.SwitchOn(2, echo.Port());
        const QString enabled = QStringLiteral("Enabled Mapping #2 on port : %1").arg(port);
        QCOMPARE(p.List(), QStringList{enabled});
        QVERIFY(!p.Button("MappingEnable", 2)->isEnabled() && p.Button("MappingDisable", 2)->isEnabled());
        QVERIFY(!p.Field("IncommingPort", 2)->isEnabled());
        QCOMPARE(p.Count(2), QStringLiteral("0"));
        {
            Fd client = Client(port);
            QVERIFY(RoundTrip(client, "ping through slot 2"));
            QTRY_COMPARE(p.Count(2), QStringLiteral("1"));
            QCOMPARE(p.Total(), QStringLiteral("1"));
            QCOMPARE(p.List(), (QStringList{enabled, QStringLiteral("Connection on Mapping #2")}));
        }
        QTRY_COMPARE(p.Count(2), QStringLiteral("0"));
        QCOMPARE(p.Total(), QStringLiteral("0"));
        QCOMPARE(p.List(), (QStringList{enabled, QStringLiteral("Disconnected on Mapping #2")}));

        QStringList texts;
        for (const QString& line : p.LogLines()) {
            const auto match = kFullLine.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            texts << match.captured(1);
        }
        QCOMPARE(texts, (QStringList{enabled, QStringLiteral("Connection on Mapping #2"),
                                     QStringLiteral("Disconnected on Mapping #2")}));
    }

    void threeClientsAtOnceOnSlot5() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        const int port = p.SwitchOn(5, echo.Port());
        std::vector<Fd> clients;
        for (int i = 0; i < 3; ++i) {
            clients.push_back(Client(port));
            QVERIFY(RoundTrip(clients.back(), "client " + std::to_string(i)));
        }
        QTRY_COMPARE(p.Count(5), QStringLiteral("3"));
        QCOMPARE(p.Total(), QStringLiteral("3"));
        clients.clear();
        QTRY_COMPARE(p.Total(), QStringLiteral("0"));
        QCOMPARE(p.Count(5), QStringLiteral("0"));
        QCOMPARE(p.List().count(QStringLiteral("Disconnected on Mapping #5")), 3);
        QVERIFY(!p.List().contains(QStringLiteral("Connection on Mapping #5")));
    }

    void refusedDestinationCountsUpAndDown() {
        RefusingPort refusing;
        Program p;
        const int port = p.SwitchOn(3, refusing.Port());
        Fd client = Client(port);
        bool eof = false;
        QCOMPARE(ReadToEnd(client.Get(), 5s, &eof), std::string());
        QVERIFY(eof);
        QTRY_VERIFY(p.List().contains(QStringLiteral("Disconnected on Mapping #3")));
        QCOMPARE(p.Count(3), QStringLiteral("0"));
        QCOMPARE(p.Total(), QStringLiteral("0"));
        QVERIFY(!p.List().contains(QStringLiteral("Connection on Mapping #3")));
    }

    void switchingOffClosesOpenConnectionsAndCountsThemDown() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        p.SaveLog(true);
        const int port = p.SwitchOn(6, echo.Port());
        std::vector<Fd> clients;
        for (int i = 0; i < 3; ++i) {
            clients.push_back(Client(port));
            QVERIFY(RoundTrip(clients.back(), "x"));
        }
        QTRY_COMPARE(p.Total(), QStringLiteral("3"));
        p.Disable(6);
        // The stop itself applied the three disconnections.
        QCOMPARE(p.Total(), QStringLiteral("0"));
        QCOMPARE(p.Count(6), QStringLiteral("0"));
        QVERIFY(!p.roster->Mapping().findChild<QLabel*>(QStringLiteral("NCMapping6"))->isVisible());
        for (const Fd& client : clients) {
            bool eof = false;
            ReadToEnd(client.Get(), 5s, &eof);
            QVERIFY(eof);
        }
        QVERIFY(p.Field("IncommingPort", 6)->isEnabled() && p.Button("MappingEnable", 6)->isEnabled());
        QVERIFY(!p.Button("MappingDisable", 6)->isEnabled());
        const QString disabled = QStringLiteral("Disabled Mapping #6 on port : %1").arg(port);
        QVERIFY(p.List().contains(disabled));
        QVERIFY(!p.List().contains(QStringLiteral("Enabled Mapping #6 on port : %1").arg(port)));
        QVERIFY(p.LogLines().last().endsWith(QLatin1Char(' ') + disabled));
        // No connection of the slot is left listening.
        QCOMPARE(ConnectLoopback(port, 1s), -1);
    }

    // Links that outlive the stop's wait post their disconnections while the window is torn down.
    void destroyedWithLinksStillOpen() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        const int port = p.SwitchOn(2, echo.Port());
        qv::TRelayListener& listener = p.roster->Mapping().Slot(2).Listener();
        listener.SetTerminateWaitTime(0);
        listener.OnDisconnect = [post = listener.OnDisconnect](const qv::RelayLinkFigures& link) {
            std::this_thread::sleep_for(1s);
            post(link);
        };
        std::vector<Fd> clients;
        for (int i = 0; i < 3; ++i) {
            clients.push_back(Client(port));
            QVERIFY(RoundTrip(clients.back(), "x"));
        }
        QTRY_COMPARE(p.Total(), QStringLiteral("3"));
        p.Stop();
        for (const Fd& client : clients) {
            bool eof = false;
            ReadToEnd(client.Get(), 5s, &eof);
            QVERIFY(eof);
        }
    }

    // A flood of connection events is applied a slice at a time: the event loop keeps running (a timer
    // keeps ticking) and every count comes out right. The list keeps its newest entries only.
    void floodOfEventsKeepsTheWindowResponsive() {
        Program p;
        qv::TConnectionEventQueue& events = p.roster->Mapping().Events();
        constexpr int kConnections = 30000;
        qint64 longest = 0;
        QElapsedTimer sinceTick;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });
        ticker.start(5);
        sinceTick.start();
        std::thread poster([&events] {
            for (int i = 0; i < kConnections; ++i) {
                events.Post({2, true});
                events.Post({2, false});
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(events.Length() == 0 && p.List().size() == qv::TConnectionLog::kMaxEntries &&
                                     p.List().last() == QStringLiteral("Disconnected on Mapping #2"),
                                 60000);
        poster.join();
        QTRY_COMPARE(p.List().count(QStringLiteral("Disconnected on Mapping #2")),
                     qv::TConnectionLog::kMaxEntries);
        QCOMPARE(p.Total(), QStringLiteral("0"));
        QCOMPARE(p.Count(2), QStringLiteral("0"));
        // Applying the flood in one go stalled the loop for seconds; a loaded machine may add some.
        QVERIFY2(longest < 2000, qPrintable(QString::number(longest)));
    }

    // An event that fails to apply neither stops the ones queued behind it nor later ones.
    void failingEventStrandsNoOther() {
        int applied = 0;
        qv::TConnectionEventQueue queue([&applied](const qv::ConnectionEvent& event) {
            if (event.listener == 0)
                throw std::runtime_error("failed");
            ++applied;
        });
        queue.Post({0, true});
        queue.Post({1, true});
        QTRY_COMPARE(applied, 1);
        queue.Post({1, false});
        QTRY_COMPARE(applied, 2);
    }

    // A stop's wait step ends on time even with events still queued; the rest are applied later.
    void drainForEndsAtItsDeadline() {
        std::atomic<int> applied = 0;
        qv::TConnectionEventQueue queue([&applied](const qv::ConnectionEvent&) {
            std::this_thread::sleep_for(5ms);
            ++applied;
        });
        for (int i = 0; i < 100; ++i)
            queue.Post({1, i % 2 == 0});
        // Should the wait step spin on past its deadline, this ends it after a while.
        std::thread rescue([&queue] {
            std::this_thread::sleep_for(3s);
            queue.DrainQueued();
        });
        QElapsedTimer took;
        took.start();
        queue.DrainFor(50ms);
        const qint64 ms = took.elapsed();
        rescue.join();
        QVERIFY2(ms < 1500, qPrintable(QString::number(ms)));
        QTRY_COMPARE(applied.load(), 100);
    }

    void disabledAllFollowsTheSlotsAndAsks() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        p.SaveLog(true);
        QPushButton* all = p.Find<QPushButton>("Button1");
        QVERIFY(!all->isEnabled());
        const int port1 = FreePort(), port3 = FreePort(), port4 = FreePort();
        p.Fill(1, port1, echo.Port());
        p.Fill(3, port3, echo.Port());
        p.Fill(4, port4, echo.Port());
        p.Enable(1);
        QVERIFY(all->isEnabled());
        p.Enable(4);
        p.Disable(4);
        QVERIFY(all->isEnabled());
        p.Enable(3);
        const QStringList before = p.List();
        const QStringList fileBefore = p.LogLines();

        p.platform.Answer(qv::Answer::No);
        all->click();
        QCOMPARE(p.platform.BoxTexts().last(), QStringLiteral("Are you sure want to disable all port?"));
        QCOMPARE(p.List(), before);
        QVERIFY(p.Button("MappingDisable", 1)->isEnabled() && p.Button("MappingDisable", 3)->isEnabled());

        p.platform.Answer(qv::Answer::Yes);
        all->click();
        QVERIFY(!all->isEnabled());
        for (int slot : {1, 3, 4}) {
            QVERIFY(!p.Button("MappingDisable", slot)->isEnabled());
            QVERIFY(p.Button("MappingEnable", slot)->isEnabled());
        }
        QCOMPARE(p.List(), (QStringList{QStringLiteral("Disabled Mapping #4 on port : %1").arg(port4),
                                        QStringLiteral("Disabled Mapping #1 on port : %1").arg(port1),
                                        QStringLiteral("Disabled Mapping #3 on port : %1").arg(port3)}));
        QCOMPARE(p.LogLines(), fileBefore);
        QCOMPARE(ConnectLoopback(port1, 1s), -1);

        // Switching the last On slot off by its own button also takes "Disabled All" away.
        p.Enable(3);
        QVERIFY(all->isEnabled());
        p.Disable(3);
        QVERIFY(!all->isEnabled());
    }

    // The list, the log file and the connections window name the port that really listens.
    void changedPortTakesEffectOnlyAfterRestart() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        p.SaveLog(true);
        const int first = FreePort();
        p.Fill(1, first, echo.Port());
        p.Enable(1);
        p.Disable(1);
        const int second = FreePort();
        p.Field("IncommingPort", 1)->setText(QString::number(second));
        p.Enable(1);
        const QString enabled = QStringLiteral("Enabled Mapping #1 on port : %1").arg(first);
        QCOMPARE(p.List(), QStringList{enabled});
        QVERIFY(p.LogLines().last().endsWith(enabled));
        p.roster->Connections().Refresh();
        QVERIFY(p.roster->Connections()
                    .findChild<qv::TMappingSummary*>(QStringLiteral("MappingSummary"))
                    ->LineText(1)
                    .contains(QStringLiteral("port %1 ->").arg(first)));
        Fd client = Client(first);
        QVERIFY(RoundTrip(client, "still the first port"));
        QCOMPARE(ConnectLoopback(second, 1s), -1);
    }

    // A slot that was on at the last end comes back on at start when the settings say so, as a click
    // on "Enable" would, with its box when the port is taken; a file without the switch starts none.
    // The end records what was on.
    void savedMappingsComeBackOnAtStart_data() {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<bool>("portTaken");
        QTest::newRow("switch absent") << false << false;
        QTest::newRow("switch on") << true << false;
        QTest::newRow("switch on, port taken") << true << true;
    }
    void savedMappingsComeBackOnAtStart() {
        QFETCH(bool, restore);
        QFETCH(bool, portTaken);
        LocalServer echo(ServerMode::Echo);
        Fd taken(ListenLoopback(5));
        const int port = portTaken ? LocalPort(taken.Get()) : FreePort();
        RosterFixture f;
        f.StoreCurrentMarker();
        for (int slot : {2, 3}) {
            f.Store(qv::kMappingSection, Name("IncommingPort", slot).toLatin1(),
                    std::to_string(slot == 2 ? port : FreePort()), qv::kMappingDataShiftKey);
            f.Store(qv::kMappingSection, Name("OutcommingPort", slot).toLatin1(), std::to_string(echo.Port()),
                    qv::kMappingDataShiftKey);
            f.Store(qv::kMappingSection, Name("OutcommingIp", slot).toLatin1(), "127.0.0.1",
                    qv::kMappingDataShiftKey);
        }
        qv::StoreSwitchedOn(f.ConfigPath(), {false, true, false, false, false, false});
        if (restore)
            f.Store(qv::kSettingsSection, qv::kRestoreMappingsKey, qv::kRestoreMappingsWord,
                    qv::kRestoreMappingsShiftKey);
        if (portTaken)
            f.platform.ExpectBox(qv::BoxKind::Error);
        qv::TQuorvaneMapping& mapping = f.Start().Mapping();
        QCOMPARE(f.roster->Settings().RestoreMappings()->isChecked(), restore);
        const bool on = restore && !portTaken;
        QCOMPARE(mapping.Slot(2).Listener().Active(), on);
        QCOMPARE(mapping.Slot(2).MappingDisable()->isEnabled(), on);
        QVERIFY(!mapping.Slot(3).Listener().Active());
        if (on) {
            Fd client(ConnectLoopback(port));
            QVERIFY(SendAll(client.Get(), "back on\n"));
            QCOMPARE(ReadExactly(client.Get(), 8, 5s), std::string("back on\n"));
        }
        f.Stop();
        QCOMPARE(qv::WasSwitchedOn(f.ConfigPath(), 2), on);
        QVERIFY(!qv::WasSwitchedOn(f.ConfigPath(), 3));
    }

    void portInUseReturnsTheSlotToOff() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        Fd taken(ListenLoopback(5));
        const int busy = LocalPort(taken.Get());
        p.Fill(2, busy, echo.Port());
        p.platform.ExpectBox(qv::BoxKind::Error);
        p.Enable(2);
        QCOMPARE(p.platform.BoxTexts(),
                 QStringList{QStringLiteral("Could not bind socket. Address and port are already in use.")});
        QVERIFY(p.Field("IncommingPort", 2)->isEnabled() && p.Field("OutcommingIp", 2)->isEnabled());
        QVERIFY(p.Button("MappingEnable", 2)->isEnabled());
        QVERIFY(!p.Button("MappingDisable", 2)->isEnabled());
        QVERIFY(p.List().isEmpty());
        QVERIFY(!p.Find<QPushButton>("Button1")->isEnabled());

        // The failed start did not fix the port: the next start takes the field's new one.
        const int free = FreePort();
        p.Field("IncommingPort", 2)->setText(QString::number(free));
        p.Enable(2);
        Fd client = Client(free);
        QVERIFY(RoundTrip(client, "after the retry"));
    }

    void fieldsAreCheckedBeforeAnythingChanges_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("notice");
        QTest::newRow("all empty") << ""
                                   << ""
                                   << ""
                                   << "No outcomming ip adress/hostname in mapping #4.";
        QTest::newRow("ports empty") << ""
                                     << ""
                                     << "h"
                                     << "No outcomming port number in mapping #4.";
        QTest::newRow("incoming empty") << ""
                                        << "80"
                                        << "h"
                                        << "No incomming port number in mapping #4.";
        QTest::newRow("incoming 0") << "0"
                                    << "80"
                                    << "h"
                                    << "Invalid incomming port number in mapping #4.";
        QTest::newRow("incoming 65536") << "65536"
                                        << "80"
                                        << "h"
                                        << "Invalid incomming port number in mapping #4.";
        QTest::newRow("outgoing 99999") << "8080"
                                        << "99999"
                                        << "h"
                                        << "Invalid outcomming port number in mapping #4.";
        QTest::newRow("both 0") << "0"
                                << "0"
                                << "h"
                                << "Invalid outcomming port number in mapping #4.";
    }
    void fieldsAreCheckedBeforeAnythingChanges() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QFETCH(QString, host);
        QFETCH(QString, notice);
        Program p;
        // Filled once so that "Enable" is available, then set to the case's texts.
        p.Fill(4, 1, 1, QStringLiteral("x"));
        p.Field("IncommingPort", 4)->setText(in);
        p.Field("OutcommingPort", 4)->setText(out);
        p.Field("OutcommingIp", 4)->setText(host);
        p.platform.ExpectBox(qv::BoxKind::Notice);
        p.Enable(4);
        QCOMPARE(p.platform.BoxTexts(), QStringList{notice});
        QVERIFY(p.Button("MappingEnable", 4)->isEnabled() && p.Field("IncommingPort", 4)->isEnabled());
        QVERIFY(!p.Button("MappingDisable", 4)->isEnabled());
        QVERIFY(p.List().isEmpty());
    }

    void pastedNonNumberIsReportedAndTheSlotStaysOff() {
        Program p;
        p.Fill(2, 1, 80);
        p.Field("IncommingPort", 2)->setText(QStringLiteral("8a"));
        p.platform.ExpectBox(qv::BoxKind::Error);
        p.Enable(2);
        QCOMPARE(p.platform.BoxTexts(), QStringList{QStringLiteral("'8a' is not a valid integer value")});
        QVERIFY(p.Button("MappingEnable", 2)->isEnabled() && !p.Button("MappingDisable", 2)->isEnabled());
        QVERIFY(p.List().isEmpty());
    }

    void timeOnlyLinesForSlot4AndUnarmedSlot1() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        p.SaveLog(true);
        const int port1 = FreePort(), port4 = FreePort();
        p.Fill(1, port1, echo.Port());
        p.Fill(4, port4, echo.Port());
        p.Enable(1);
        p.Enable(4);
        for (int port : {port1, port4}) {
            Fd client = Client(port);
            QVERIFY(RoundTrip(client, "x"));
        }
        QTRY_COMPARE(p.LogLines().size(), 6);
        QStringList full, timeOnly;
        for (const QString& line : p.LogLines()) {
            if (const auto m = kFullLine.match(line); m.hasMatch())
                full << m.captured(1);
            else if (const auto t = kTimeOnlyLine.match(line); t.hasMatch())
                timeOnly << t.captured(1);
            else
                QFAIL(qPrintable(line));
        }
        QCOMPARE(timeOnly, (QStringList{"Connection on Mapping #1", "Connection on Mapping #4",
                                        "Disconnected on Mapping #4"}));
        QVERIFY(full.contains(QStringLiteral("Disconnected on Mapping #1")));
    }

    void savingOffWritesNothing() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        const int port = p.SwitchOn(2, echo.Port());
        {
            Fd client = Client(port);
            QVERIFY(RoundTrip(client, "x"));
        }
        QTRY_COMPARE(p.Total(), QStringLiteral("0"));
        p.Disable(2);
        QVERIFY(!std::filesystem::exists(p.LogPath()));
    }

    void deletedLogFileIsCreatedAgain() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        p.SaveLog(true);
        const int port = p.SwitchOn(2, echo.Port());
        std::filesystem::remove(p.LogPath());
        Fd client = Client(port);
        QVERIFY(RoundTrip(client, "x"));
        QTRY_COMPARE(p.LogLines().size(), 1);
        QVERIFY(p.LogLines().first().endsWith(QStringLiteral(" Connection on Mapping #2")));
    }

    // A log file that cannot be written loses its lines and nothing else.
    void failingLogFileNeverDisturbsRelaying() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        p.SaveLog(true);
        std::filesystem::create_directory(p.LogPath()); // opening it for appending fails, even as root
        const int port = FreePort();
        p.Fill(2, port, echo.Port());
        p.platform.ExpectBox(qv::BoxKind::Error); // the switch-on's own line is reported
        p.Enable(2);
        QVERIFY(p.Button("MappingDisable", 2)->isEnabled());
        {
            Fd client = Client(port);
            QVERIFY(RoundTrip(client, "bytes still flow"));
            QTRY_COMPARE(p.Total(), QStringLiteral("1"));
        }
        QTRY_COMPARE(p.Total(), QStringLiteral("0"));
        QCOMPARE(p.List().last(), QStringLiteral("Disconnected on Mapping #2"));
        QCOMPARE(p.platform.Boxes().size(), 1);
        p.SaveLog(false);
    }
};

QV_TEST_MAIN(SlotTest)
#include "slot_test.moc"

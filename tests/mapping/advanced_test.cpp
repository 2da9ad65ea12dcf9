// The advanced timed mapping: its window, arming, the main window's Timer1 and Timer2 and listener 7,
// with real TCP on 127.0.0.1.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <clocale>
#include <filesystem>
#include <functional>
#include <sys/socket.h>

#include "config/config_messages.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/version_marker.h"
#include "core/relay/relay_listener.h"
#include "info/about_window.h"
#include "log/connection_log.h"
#include "mapping/advanced_window.h"
#include "service/connection_event_queue.h"
#include "service/mapping_service.h"
#include "shell/main_window.h"
#include "shell/tray_window.h"
#include "support/echo_server.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/tcp_probe.h"

using namespace qvtest;
using namespace std::chrono_literals;

namespace {

const QStringList kBuiltIn = {"1", "113", "113", "255.255.255.0", "2000"};
const QString kHost = QStringLiteral("127.0.0.1");

struct Program : RosterFixture {
    // file: "none" (the first run), "current" or "old" version marker, with the stored texts.
    explicit Program(const QStringList& stored = {}, const QString& file = QStringLiteral("current")) {
        if (file == QLatin1String("current"))
            StoreCurrentMarker();
        else if (file == QLatin1String("old"))
            Store(qv::kMappingSection, qv::kVersionKey, "1.0", qv::kMappingDataShiftKey);
        StoreSettings(stored);
        if (file == QLatin1String("old"))
            platform.ExpectBox(qv::BoxKind::Notice); // the main window's old-file notice
        Start();
        QTRY_VERIFY(!Main().Timer(7)->Enabled() && !Main().Timer(8)->Enabled());
    }
    void StoreSettings(const QStringList& texts) const {
        for (int i = 0; i < texts.size(); ++i)
            Store(qv::kMappingSection, qv::TQuorvaneMappingPlus::kSettingKeys[i],
                  texts[i].toLatin1().toStdString(), qv::kMappingDataShiftKey);
    }
    qv::TQuorvaneMapping& Main() const { return roster->Mapping(); }
    qv::TQuorvaneMappingPlus& Plus() const { return roster->MappingPlus(); }
    qv::TRelayListener& Listener7() const {
        return Main().Service().Listener(qv::TMappingService::kTimedSlot);
    }
    QStringList Texts() const {
        QStringList texts;
        for (int i = 0; i < 5; ++i)
            texts << Plus().Setting(i)->text();
        return texts;
    }
    void SetTexts(const QStringList& texts) const {
        for (int i = 0; i < 5; ++i)
            Plus().Setting(i)->setText(texts[i]);
    }
    // Fills the five fields and presses "Enable".
    void Arm(int start, int listenPort, int destinationPort, int stop) const {
        SetTexts({QString::number(start), QString::number(listenPort), QString::number(destinationPort),
                  kHost, QString::number(stop)});
        QVERIFY(Plus().TimerEnable()->isEnabled());
        Plus().TimerEnable()->click();
        QVERIFY(Plus().Armed());
    }
    // Switches slot 1 on, relaying to `destination`; returns its port.
    int EnableSlot1(int destination) const {
        const int port = FreePort();
        Find<QLineEdit>("IncommingPort")->setText(QString::number(port));
        Find<QLineEdit>("OutcommingPort")->setText(QString::number(destination));
        Find<QLineEdit>("OutcommingIp")->setText(kHost);
        Find<QPushButton>("MappingEnable")->click();
        return port;
    }
    QString Count7() const { return Plus().NCMappingTimer()->text(); }
    QString Total() const { return Main().StatusPanel(1)->text(); }
    QStringList LogLines() const {
        QStringList lines = QString::fromLatin1(ReadAll(LogPath())).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    // The five file controls of the advanced window and the main window, as enabled flags.
    QList<bool> FileControls() const {
        return {Plus().LoadIni()->isEnabled(),  Plus().SaveIni()->isEnabled(),
                Main().LoadIni()->isEnabled(),  Main().SaveIni()->isEnabled(),
                Main().LoadIni2()->isEnabled(), Main().SaveIni2()->isEnabled()};
    }
};

// A client of a relay that has made one round trip through it.
Fd RelayedClient(int port) {
    Fd client(ConnectLoopback(port));
    const std::string text = "through slot 1";
    if (!SendAll(client.Get(), text) || ReadExactly(client.Get(), text.size(), 5s) != text)
        return Fd();
    return client;
}

bool IdentRoundTrip(const Fd& client, const std::string& query) {
    const std::string reply = IdentReply(query);
    return SendAll(client.Get(), query + "\r\n") && ReadExactly(client.Get(), reply.size(), 5s) == reply;
}

const QRegularExpression kFullLine(QStringLiteral(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d (.*)$)"));

QList<bool> All(bool value) {
    return QList<bool>(6, value);
}

} // namespace

class AdvancedTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { std::setlocale(LC_TIME, "C"); }

    void creationReadsTheStoredSettings_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("enableAvailable");
        QTest::addColumn<bool>("saveShown");
        // The main window wrote the marker alone: emptying the host field is a change.
        QTest::newRow("first run") << "none" << QStringList{} << QStringList{"", "", "", "", ""} << true
                                   << true;
        QTest::newRow("marker alone")
            << "current" << QStringList{} << QStringList{"", "", "", "", ""} << true << true;
        QTest::newRow("built-in texts") << "current" << kBuiltIn << kBuiltIn << false << true;
        const QStringList other = {"5", "4113", "4114", "ident.example", "9000"};
        QTest::newRow("other texts") << "current" << other << other << true << true;
        QTest::newRow("old marker") << "old" << other << kBuiltIn << false << false;
    }
    void creationReadsTheStoredSettings() {
        QFETCH(QString, file);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, texts);
        QFETCH(bool, enableAvailable);
        QFETCH(bool, saveShown);
        Program p(stored, file);
        QCOMPARE(p.Texts(), texts);
        QCOMPARE(p.Plus().TimerEnable()->isEnabled(), enableAvailable);
        QCOMPARE(p.Plus().SaveIni()->isVisibleTo(&p.Plus()), saveShown);
        QCOMPARE(p.FileControls(), All(false));
        QVERIFY(!p.Plus().Armed());
        QCOMPARE(p.Plus().Bevel2()->height(), 56);
        QVERIFY(p.Plus().NCMappingTimer()->isHidden() && p.Plus().Label12()->isHidden());
    }

    void changeRulesOpenTheNextControl_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("enabled"); // the one control the change makes available
        QTest::newRow("start time") << 0 << "";
        QTest::newRow("incoming port") << 1 << "OutcommingPAd";
        QTest::newRow("outgoing port") << 2 << "OutcommingIpAd";
        QTest::newRow("host") << 3 << "TimerEnable";
        QTest::newRow("stop time") << 4 << "";
    }
    void changeRulesOpenTheNextControl() {
        QFETCH(int, field);
        QFETCH(QString, enabled);
        Program p(kBuiltIn);
        p.Arm(1, 40000, 40001, 0);
        // Armed: every field and "Enable" are disabled; the texts still change (a load does that).
        p.Plus().SaveIniClick();
        for (QPushButton* button : {p.Main().LoadIni(), p.Main().SaveIni()})
            button->setEnabled(false);
        for (QAction* item : {p.Main().LoadIni2(), p.Main().SaveIni2()})
            item->setEnabled(false);
        QCOMPARE(p.FileControls(), All(false));
        p.Plus().Setting(field)->setText(QStringLiteral("7"));
        QCOMPARE(p.FileControls(), All(true));
        QStringList nowEnabled;
        for (QWidget* control : std::initializer_list<QWidget*>{
                 p.Plus().TimerStart(), p.Plus().IncommingPAd(), p.Plus().OutcommingPAd(),
                 p.Plus().OutcommingIpAd(), p.Plus().TimerStop(), p.Plus().TimerEnable()})
            if (control->isEnabled())
                nowEnabled << control->objectName();
        QCOMPARE(nowEnabled, enabled.isEmpty() ? QStringList{} : QStringList{enabled});
    }

    void keyFilterTakesDigitsAndBackspace_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::newRow("start time") << 0 << "1a2-3 "
                                    << "123";
        QTest::newRow("incoming port, five digits") << 1 << "1234567"
                                                    << "12345";
        QTest::newRow("outgoing port") << 2 << "x8y0"
                                       << "80";
        QTest::newRow("host takes anything") << 3 << "irc-1.example"
                                             << "irc-1.example";
        QTest::newRow("stop time") << 4 << "2.5e3"
                                   << "253";
    }
    void keyFilterTakesDigitsAndBackspace() {
        QFETCH(int, field);
        QFETCH(QString, typed);
        QFETCH(QString, text);
        Program p(kBuiltIn);
        QLineEdit* edit = p.Plus().Setting(field);
        edit->clear();
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), text);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), text.chopped(1));
    }

    void armingRefusedChangesNothing_data() {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("box");
        const auto notice = static_cast<int>(qv::BoxKind::Notice);
        const auto error = static_cast<int>(qv::BoxKind::Error);
        QTest::newRow("all empty") << QStringList{"", "", "", "", ""} << notice << "No start timer.";
        QTest::newRow("no incoming") << QStringList{"1", "", "", "", ""} << notice
                                     << "No incomming port number.";
        QTest::newRow("no outgoing") << QStringList{"1", "113", "", "h", "1"} << notice
                                     << "No outcomming port number.";
        QTest::newRow("no host") << QStringList{"1", "113", "113", "", "1"} << notice
                                 << "No outcomming ip adress/hostname.";
        QTest::newRow("no stop") << QStringList{"1", "113", "113", "h", ""} << notice << "No stop timer.";
        QTest::newRow("incoming 0") << QStringList{"1", "0", "0", "h", "1"} << notice
                                    << "Invalid incomming port number.";
        QTest::newRow("incoming 65536")
            << QStringList{"1", "65536", "113", "h", "1"} << notice << "Invalid incomming port number.";
        QTest::newRow("outgoing 99999")
            << QStringList{"1", "113", "99999", "h", "1"} << notice << "Invalid outcomming port number.";
        QTest::newRow("pasted port") << QStringList{"1", "11x", "0", "h", "1"} << error
                                     << "'11x' is not a valid integer value";
        QTest::newRow("pasted start")
            << QStringList{"1s", "113", "113", "h", "1"} << error << "'1s' is not a valid integer value";
        QTest::newRow("negative stop")
            << QStringList{"1", "113", "113", "h", "-5"} << error << "'-5' is not a valid integer value";
    }
    void armingRefusedChangesNothing() {
        QFETCH(QStringList, texts);
        QFETCH(int, kind);
        QFETCH(QString, box);
        Program p;
        p.SetTexts(texts);
        p.platform.ExpectBox(static_cast<qv::BoxKind>(kind));
        p.Plus().TimerEnable()->click();
        QCOMPARE(p.platform.BoxTexts(), QStringList{box});
        QVERIFY(!p.Plus().Armed() && p.Plus().TimerEnable()->isEnabled() &&
                p.Plus().TimerStop()->isEnabled());
        QCOMPARE(p.Main().Timer(1)->Interval(), 0);
        QCOMPARE(p.Main().Timer(2)->Interval(), 0);
        QCOMPARE(p.Listener7().DefaultPort(), 0);
        QVERIFY(p.List().isEmpty());
        QCOMPARE(p.Plus().Bevel2()->height(), 56);
    }

    void armAndDisarm() {
        Program p;
        p.Find<QCheckBox>("CheckBox1")->setChecked(true);
        p.Arm(250, 40113, 40114, 3000);
        const QString enabled = QStringLiteral("Advanced Enabled Mapping #1 on port : 40113");
        const QString disabled = QStringLiteral("Advanced Disabled Mapping #1 on port : 40113");
        QCOMPARE(p.List(), QStringList{enabled});
        QVERIFY(!p.Plus().TimerEnable()->isEnabled() && p.Plus().TimerDisable()->isEnabled());
        for (int i = 0; i < 5; ++i)
            QVERIFY(!p.Plus().Setting(i)->isEnabled());
        QCOMPARE(p.Plus().Bevel2()->height(), 76);
        QVERIFY(!p.Plus().NCMappingTimer()->isHidden() && !p.Plus().Label12()->isHidden());
        QCOMPARE(p.Main().Timer(1)->Interval(), 250);
        QCOMPARE(p.Main().Timer(2)->Interval(), 3000);
        QVERIFY(!p.Main().Timer(1)->Enabled() && !p.Main().Timer(2)->Enabled());
        QCOMPARE(p.Listener7().DefaultPort(), 40113);
        QCOMPARE(p.Listener7().MappedPort(), 40114);
        QCOMPARE(p.Listener7().MappedHost(), kHost.toStdString());
        QCOMPARE(p.Listener7().TerminateWaitTime(), 5000);
        QVERIFY(!p.Listener7().Active()); // nothing listens before a slot-1 connection

        p.Plus().TimerDisable()->click();
        QCOMPARE(p.List(), QStringList{disabled});
        QVERIFY(p.Plus().TimerEnable()->isEnabled() && !p.Plus().TimerDisable()->isEnabled());
        for (int i = 0; i < 5; ++i)
            QVERIFY(p.Plus().Setting(i)->isEnabled());
        QCOMPARE(p.Plus().Bevel2()->height(), 56);
        QVERIFY(p.Plus().NCMappingTimer()->isHidden() && p.Plus().Label12()->isHidden());
        QStringList texts;
        for (const QString& line : p.LogLines()) {
            const auto match = kFullLine.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            texts << match.captured(1);
        }
        QCOMPARE(texts, (QStringList{enabled, disabled}));
    }

    void timedWindowOpensRelaysAndClosesWithoutProlonging() {
        LocalServer echo(ServerMode::Echo);
        LocalServer ident(ServerMode::Ident);
        Program p;
        p.Find<QCheckBox>("CheckBox1")->setChecked(true);
        const int advancedPort = FreePort();
        p.Arm(1, advancedPort, ident.Port(), 2000);
        const int slot1 = p.EnableSlot1(echo.Port());

        QElapsedTimer sinceFirst;
        Fd first = RelayedClient(slot1);
        sinceFirst.start();
        QVERIFY(first.Get() >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(p.Listener7().Active(), 1000);
        QCOMPARE(p.Listener7().ListeningPort(), advancedPort);
        Fd query(ConnectLoopback(advancedPort));
        QVERIFY(IdentRoundTrip(query, "6667, 40000"));
        QTRY_COMPARE(p.Count7(), QStringLiteral("1"));
        QCOMPARE(p.Total(), QStringLiteral("1")); // the slot-1 client only
        QVERIFY(p.List().contains(QStringLiteral("Advanced Connection on Mapping #1")));

        // A second slot-1 client a second later leaves the window as it is.
        QTRY_VERIFY_WITH_TIMEOUT(sinceFirst.elapsed() >= 1000, 2000);
        Fd second = RelayedClient(slot1);
        QVERIFY(second.Get() >= 0);
        QTRY_COMPARE(p.Total(), QStringLiteral("2"));
        QTRY_VERIFY_WITH_TIMEOUT(!p.Listener7().Active(), 5000);
        const qint64 closedAfter = sinceFirst.elapsed();
        // Seen once the stop's wait (at least 250 ms) is over; a window prolonged by the second
        // client would close after 3250 ms at the earliest.
        QVERIFY2(closedAfter >= 1800 && closedAfter < 3000, qPrintable(QString::number(closedAfter)));

        // The stop closed the ident connection and applied its disconnection.
        bool eof = false;
        ReadToEnd(query.Get(), 5s, &eof);
        QVERIFY(eof);
        QCOMPARE(p.Count7(), QStringLiteral("0"));
        QCOMPARE(p.Total(), QStringLiteral("2"));
        QVERIFY(p.List().contains(QStringLiteral("Advanced Disconnected on Mapping #1")));
        QVERIFY(!p.List().contains(QStringLiteral("Advanced Connection on Mapping #1")));
        QCOMPARE(ConnectLoopback(advancedPort, 1s), -1);
        QVERIFY(!p.Main().Timer(1)->Enabled() && !p.Main().Timer(2)->Enabled());
        QVERIFY(p.Plus().Armed());

        // Armed, slot 1's connection lines carry the date like the advanced mapping's.
        QStringList dated;
        for (const QString& line : p.LogLines())
            if (const auto match = kFullLine.match(line); match.hasMatch())
                dated << match.captured(1);
        QCOMPARE(dated.count(QStringLiteral("Connection on Mapping #1")), 2);
        QCOMPARE(dated.count(QStringLiteral("Advanced Connection on Mapping #1")), 1);
        QCOMPARE(dated.count(QStringLiteral("Advanced Disconnected on Mapping #1")), 1);
    }

    void windowThatNeverOpens_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("stop");
        QTest::newRow("stop before start") << 1000 << 500;
        QTest::newRow("start 0") << 0 << 300;
    }
    void windowThatNeverOpens() {
        QFETCH(int, start);
        QFETCH(int, stop);
        LocalServer echo(ServerMode::Echo);
        Program p;
        const int advancedPort = FreePort();
        p.Arm(start, advancedPort, echo.Port(), stop);
        Fd client = RelayedClient(p.EnableSlot1(echo.Port()));
        QVERIFY(client.Get() >= 0);
        QTRY_VERIFY(p.Main().Timer(2)->Enabled());
        // Timer2 ticks, taking Timer1 with it: listener 7 never had a port.
        QTRY_VERIFY_WITH_TIMEOUT(!p.Main().Timer(2)->Enabled(), 3000);
        QVERIFY(!p.Main().Timer(1)->Enabled());
        QCOMPARE(p.Listener7().ListeningPort(), 0);
        QCOMPARE(ConnectLoopback(advancedPort, 1s), -1);
    }

    void stopTimeZeroStaysOpenUntilDisarmed() {
        LocalServer echo(ServerMode::Echo);
        LocalServer ident(ServerMode::Ident);
        Program p;
        const int advancedPort = FreePort();
        p.Arm(1, advancedPort, ident.Port(), 0);
        const int slot1 = p.EnableSlot1(echo.Port());
        QElapsedTimer since;
        Fd first = RelayedClient(slot1);
        since.start();
        QTRY_VERIFY_WITH_TIMEOUT(p.Listener7().Active(), 1000);
        // Past the built-in stop time, with another slot-1 client in between, it still relays.
        QTRY_VERIFY_WITH_TIMEOUT(since.elapsed() >= 2500, 4000);
        Fd second = RelayedClient(slot1);
        QVERIFY(second.Get() >= 0);
        Fd query(ConnectLoopback(advancedPort));
        QVERIFY(IdentRoundTrip(query, "113, 6667"));
        QVERIFY(p.Listener7().Active());
        QTRY_COMPARE(p.Count7(), QStringLiteral("1"));

        p.Plus().TimerDisable()->click();
        QVERIFY(!p.Listener7().Active());
        QCOMPARE(p.Count7(), QStringLiteral("0"));
        QVERIFY(!p.Main().Timer(1)->Enabled() && !p.Main().Timer(2)->Enabled());
        QCOMPARE(ConnectLoopback(advancedPort, 1s), -1);
    }

    void rearmedOnAnotherPortListensOnTheFirst() {
        LocalServer echo(ServerMode::Echo);
        LocalServer ident(ServerMode::Ident);
        Program p;
        const int firstPort = FreePort();
        p.Arm(1, firstPort, ident.Port(), 0);
        const int slot1 = p.EnableSlot1(echo.Port());
        Fd opener = RelayedClient(slot1);
        QTRY_VERIFY_WITH_TIMEOUT(p.Listener7().Active(), 1000);
        p.Plus().TimerDisable()->click();

        const int secondPort = FreePort();
        p.Plus().IncommingPAd()->setText(QString::number(secondPort));
        p.Plus().TimerEnable()->click();
        // The entry names the port that will listen, not the one typed.
        QVERIFY(p.List().contains(QStringLiteral("Advanced Enabled Mapping #1 on port : %1").arg(firstPort)));
        Fd reopener = RelayedClient(slot1);
        QTRY_VERIFY_WITH_TIMEOUT(p.Listener7().Active(), 1000);
        Fd query(ConnectLoopback(firstPort));
        QVERIFY(IdentRoundTrip(query, "1, 2"));
        QCOMPARE(ConnectLoopback(secondPort, 1s), -1);
    }

    void startFailureIsReportedAndTimer2StillTicks() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        Fd taken(ListenLoopback(5));
        p.Arm(1, LocalPort(taken.Get()), echo.Port(), 400);
        p.platform.ExpectBox(qv::BoxKind::Error);
        Fd client = RelayedClient(p.EnableSlot1(echo.Port()));
        QTRY_COMPARE(
            p.platform.BoxTexts(),
            QStringList{QStringLiteral("Could not bind socket. Address and port are already in use.")});
        QTRY_VERIFY_WITH_TIMEOUT(!p.Main().Timer(2)->Enabled(), 3000);
        QVERIFY(!p.Listener7().Active());
        QCOMPARE(p.Count7(), QStringLiteral("0"));
        QVERIFY(p.Plus().Armed());
    }

    // A slot-1 connection applied while the disarm waits for listener 7 must not start the timers.
    void disarmWaitingForLinksDoesNotRestartTheTimers() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        p.Arm(1, FreePort(), echo.Port(), 0);
        Fd opener = RelayedClient(p.EnableSlot1(echo.Port()));
        QTRY_VERIFY_WITH_TIMEOUT(p.Listener7().Active(), 1000);
        QTRY_COMPARE(p.Total(), QStringLiteral("1"));
        p.Main().Events().Post({1, true});
        p.Plus().TimerDisable()->click();
        QCOMPARE(p.Total(), QStringLiteral("2")); // the posted connection was applied during the stop
        QVERIFY(!p.Main().Timer(1)->Enabled() && !p.Main().Timer(2)->Enabled());
        QVERIFY(!p.Listener7().Active());
        p.Main().Events().Post({1, false});
        QTRY_COMPARE(p.Total(), QStringLiteral("1"));
    }

    void saveWritesTheMarkerAndTheFiveKeysOnly() {
        Program p;
        p.Store(qv::kMappingSection, "IncommingPort2", "8080", qv::kMappingDataShiftKey);
        // Every byte value survives: the host holds one beyond ASCII.
        const QStringList texts = {"10", "4113", "113", QString::fromLatin1("ident\xe9.example"), "5000"};
        p.SetTexts(texts);
        p.Plus().SaveIni()->click();
        QVERIFY(!p.Plus().LoadIni()->isEnabled() && !p.Plus().SaveIni()->isEnabled());
        QVERIFY(p.Main().SaveIni()->isEnabled()); // the main window's unsaved changes stay

        const std::string expected = p.dir.File("expected.qrvd");
        qv::WriteVersionMarker(expected);
        qv::WriteString(expected, qv::kMappingSection, "IncommingPort2",
                        qv::ScrambleText("8080", qv::kMappingDataShiftKey));
        for (int i = 0; i < 5; ++i)
            qv::WriteString(expected, qv::kMappingSection, qv::TQuorvaneMappingPlus::kSettingKeys[i],
                            qv::ScrambleText(texts[i].toLatin1().toStdString(), qv::kMappingDataShiftKey));
        QCOMPARE(ReadAll(p.ConfigPath()), ReadAll(expected));
    }

    void loadReplacesTheFields_data() {
        QTest::addColumn<QString>("file"); // missing, old, current
        QTest::addColumn<int>("answer");   // -1: no question
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("missing file") << "missing" << -1 << qv::kMissingFileNotice << false;
        QTest::newRow("old file") << "old" << -1 << qv::kOldFileNotice << false;
        QTest::newRow("answered no") << "current" << int(qv::Answer::No) << qv::kReplaceWithOldQuestion
                                     << false;
        QTest::newRow("answered yes")
            << "current" << int(qv::Answer::Yes) << qv::kReplaceWithOldQuestion << true;
    }
    void loadReplacesTheFields() {
        QFETCH(QString, file);
        QFETCH(int, answer);
        QFETCH(QString, box);
        QFETCH(bool, replaced);
        Program p(kBuiltIn);
        const QStringList stored = {"3", "4113", "4114", "other.example", "7000"};
        if (file == QLatin1String("old"))
            p.Store(qv::kMappingSection, qv::kVersionKey, "1.0", qv::kMappingDataShiftKey);
        p.StoreSettings(stored);
        if (file == QLatin1String("missing"))
            std::filesystem::remove(p.ConfigPath());
        p.Plus().SaveIni()->hide();
        p.Plus().TimerStart()->setText(QStringLiteral("9")); // an edit makes "Load Configuration" available
        const QStringList before = p.Texts();
        if (answer < 0)
            p.platform.ExpectBox(qv::BoxKind::Notice);
        else
            p.platform.Answer(static_cast<qv::Answer>(answer));
        p.Plus().LoadIni()->click();
        QCOMPARE(p.platform.BoxTexts(), QStringList{box});
        QCOMPARE(p.platform.Beeps(), answer < 0 ? 1 : 0);
        QCOMPARE(p.Texts(), replaced ? stored : before);
        QVERIFY(p.Plus().Button1()->isEnabled());
        QCOMPARE(p.Plus().LoadIni()->isEnabled(), answer == int(qv::Answer::No) || answer < 0);
        QCOMPARE(p.Plus().SaveIni()->isVisibleTo(&p.Plus()), replaced);
        QCOMPARE(p.Plus().TimerEnable()->isEnabled(), replaced);
    }

    void menuStatusBarAndClose() {
        Program p;
        qv::TQuorvaneMappingPlus& plus = p.Plus();
        const auto item = [&plus](const char* name) {
            return plus.menuBar()->findChild<QAction*>(QString::fromLatin1(name));
        };
        item("About2")->trigger();
        QVERIFY(!p.roster->Tray().About3()->isEnabled());
        QCOMPARE(p.platform.ModalShown(), QList<QWidget*>{&p.roster->About()});
        item("Checkfor1")->trigger();
        p.Main().menuBar()->findChild<QAction*>(QStringLiteral("Checkfor1"))->trigger(); // the same page
        QCOMPARE(p.platform.OpenedUrls().size(), 2);
        QCOMPARE(p.platform.OpenedUrls()[0], p.platform.OpenedUrls()[1]);
        QVERIFY(!item("Help1")->isEnabled());
        QCOMPARE(item("About2")->shortcut(), QKeySequence(QStringLiteral("Ctrl+A")));

        // The status bar shows the long part of the hint under the mouse.
        QStatusTipEvent tip(plus.OutcommingIpAd()->statusTip());
        QApplication::sendEvent(plus.OutcommingIpAd(), &tip);
        QCOMPARE(plus.statusBar()->currentMessage(),
                 QStringLiteral("Enter the outcomming ip adress exemple : 255.255.255.0"));
        QCOMPARE(plus.OutcommingIpAd()->toolTip(), QStringLiteral("OutcommingIp"));

        for (const auto& close : std::initializer_list<std::function<void()>>{
                 [&] { plus.Button1()->click(); }, [&] { item("Exit1")->trigger(); }}) {
            plus.show();
            QVERIFY(plus.isVisible());
            close();
            QVERIFY(!plus.isVisible());
        }
    }
};

QV_TEST_MAIN(AdvancedTest)
#include "advanced_test.moc"

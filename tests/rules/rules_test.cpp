// The mapping rules window as a user works it, through real mappings on 127.0.0.1, and the rules
// travelling with the configuration: saved, read at start, cleared by an older file, sent to a
// remote client.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <optional>
#include <sys/socket.h>

#include "remote/remote_protocol.h"
#include "rules/rules_window.h"
#include "service/mapping_rules.h"
#include "service/mapping_service.h"
#include "service/rules_book.h"
#include "support/echo_server.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/tcp_probe.h"
#include "support/udp_probe.h"

using namespace qvtest;
using namespace std::chrono_literals;

namespace {

struct Program : RosterFixture {
    explicit Program(const char* storedAllow2 = nullptr) {
        StoreCurrentMarker();
        if (storedAllow2) {
            Store("QuorvaneDataRules", "Allow2", storedAllow2, "137");
            platform.ExpectBox(qv::BoxKind::Notice);
        }
        Start();
    }
    // Mapping 2 from a free port to 127.0.0.1:destination, switched on; its port.
    int SwitchOnMapping2(int destination) const {
        const int port = FreePort();
        Find<QLineEdit>("IncommingPort2")->setText(QString::number(port));
        Find<QLineEdit>("OutcommingPort2")->setText(QString::number(destination));
        Find<QLineEdit>("OutcommingIp2")->setText(QStringLiteral("127.0.0.1"));
        Find<QPushButton>("MappingEnable2")->click();
        return port;
    }
    // The window opened from the Options menu, with mapping 2 chosen.
    qv::TMappingRulesForm& OpenForMapping2() const {
        Find<QAction>("MappingRules1")->trigger();
        qv::TMappingRulesForm& window = roster->MappingRules();
        window.findChild<QComboBox*>(QStringLiteral("RulesMapping"))->setCurrentIndex(1);
        return window;
    }
    template <class T> T* In(const char* name) const {
        return roster->MappingRules().findChild<T*>(QString::fromLatin1(name));
    }
    QString Message() const { return In<QLabel>("RulesMessage")->text(); }
};

// Whether a client from `source` gets its bytes echoed through the mapping's port.
bool Echoes(const char* source, int port) {
    Fd client(ConnectLoopbackFrom(source, port));
    return client.Get() >= 0 && SendAll(client.Get(), "hi") && ReadExactly(client.Get(), 2, 5s) == "hi";
}

} // namespace

class RulesTest : public QObject {
    Q_OBJECT
private slots:
    // Typed, checked, applied to a running mapping at once, to the live links too; the refused client
    // shows among the ended links; a new listen choice waits for the next "Enable", and says so.
    void windowPutsRulesInForce() {
        Program p;
        LocalServer echo(ServerMode::Echo);
        const int port = p.SwitchOnMapping2(echo.Port());
        QVERIFY(p.roster->Service().Running(2));
        p.OpenForMapping2();
        QVERIFY(p.roster->MappingRules().isVisible());

        auto* allow = p.In<QPlainTextEdit>("RulesAllow");
        auto* apply = p.In<QPushButton>("RulesApply");
        allow->setPlainText(QStringLiteral("127.0.0.1\n127.0.0.300"));
        QVERIFY2(p.Message().startsWith(QStringLiteral("Allow, line 2:")), qPrintable(p.Message()));
        QVERIFY(!apply->isEnabled());
        allow->setPlainText(QStringLiteral("127.0.0.1"));
        QVERIFY(p.Message().isEmpty() && apply->isEnabled());
        Fd live(ConnectLoopbackFrom("127.0.0.2", port));
        QVERIFY(SendAll(live.Get(), "hi") && ReadExactly(live.Get(), 2, 5s) == "hi");
        apply->click();
        QCOMPARE(p.Message(), QStringLiteral("Applied to Mapping #2."));
        bool ended = false;
        QCOMPARE(ReadToEnd(live.Get(), 5s, &ended), std::string());
        QVERIFY(ended); // a link the new rules refuse does not flow on
        QVERIFY(Echoes("127.0.0.1", port));
        QVERIFY(!Echoes("127.0.0.2", port));
        QTRY_VERIFY(std::ranges::any_of(p.roster->Service().EndedLinks(), [](const qv::MappingLink& link) {
            return link.figures.reason == qv::RelayEndReason::DeniedByRule;
        }));
        QVERIFY(p.Find<QPushButton>("SaveIni")->isEnabled());

        p.In<QComboBox>("RulesListenOn")->setCurrentIndex(2); // this machine only
        apply->click();
        QVERIFY2(p.Message().contains(QStringLiteral("next \"Enable\"")), qPrintable(p.Message()));
        QCOMPARE(p.roster->RulesBook().Rules(2).listenOn, 2);
        // Back to where it listens now: nothing waits.
        p.In<QComboBox>("RulesListenOn")->setCurrentIndex(0);
        apply->click();
        QCOMPARE(p.Message(), QStringLiteral("Applied to Mapping #2."));
    }

    // "TCP and UDP" chosen before "Enable": the mapping relays both on its port, and a UDP session
    // ends after the idle time typed.
    void protocolChosenInTheWindow() {
        Program p;
        LocalServer echo(ServerMode::Echo);
        UdpEcho udpEcho("127.0.0.1", echo.Port());
        p.OpenForMapping2();
        p.In<QComboBox>("RulesProtocol")->setCurrentIndex(2);
        p.In<QLineEdit>("RulesUdpIdle")->setText(QStringLiteral("1"));
        p.In<QPushButton>("RulesApply")->click();
        QCOMPARE(p.Message(), QStringLiteral("Applied to Mapping #2."));
        const int port = p.SwitchOnMapping2(echo.Port());
        QVERIFY(Echoes("127.0.0.1", port));
        Fd client = UdpSocket("127.0.0.1", 0, port);
        QCOMPARE(::send(client.Get(), "ping", 4, 0), 4);
        QCOMPARE(ReceiveDatagram(client.Get()), std::optional<std::string>("ping"));
        QTRY_VERIFY_WITH_TIMEOUT(
            std::ranges::any_of(p.roster->Service().EndedLinks(),
                                [](const qv::MappingLink& link) {
                                    return link.figures.protocol == qv::RelayProtocol::Udp &&
                                           link.figures.reason == qv::RelayEndReason::IdleTimeout;
                                }),
            5000);
    }

    // Rules broken in the file by hand: said after start, and the mapping refuses every client until
    // they are mended, rather than letting in those a deny list was to keep out.
    void brokenStoredRulesRefuseEveryone() {
        Program p("10.0.0.0/8\nnot a network");
        QVERIFY2(p.platform.BoxTexts().size() == 1 &&
                     p.platform.BoxTexts()[0].startsWith(QStringLiteral("Mapping #2, rules: Allow, line 2:")),
                 qPrintable(p.platform.BoxTexts().join('|')));
        LocalServer echo(ServerMode::Echo);
        const int port = p.SwitchOnMapping2(echo.Port());
        QVERIFY(!Echoes("127.0.0.1", port));
        p.OpenForMapping2();
        p.In<QPlainTextEdit>("RulesAllow")->setPlainText(QStringLiteral("127.0.0.0/8"));
        p.In<QPushButton>("RulesApply")->click();
        QVERIFY(Echoes("127.0.0.1", port));
    }

    // Saved with the configuration and in force at the next start; an older file leaves none; a
    // remote client receives them, while the 31 lines read as ever for a client that knows no rules.
    void rulesTravelWithTheConfiguration() {
        qv::MappingRules rules;
        rules.deny = QStringLiteral("192.0.2.0/24\n2001:db8::/32");
        rules.maxConnections = QStringLiteral("3");
        rules.proxyProtocol = 1;
        qv::AllMappingRules expected;
        expected[1] = rules;
        Program p;
        p.OpenForMapping2();
        p.In<QPlainTextEdit>("RulesDeny")->setPlainText(rules.deny);
        p.In<QLineEdit>("RulesMaxConnections")->setText(rules.maxConnections);
        p.In<QComboBox>("RulesProxyProtocol")->setCurrentIndex(rules.proxyProtocol);
        p.In<QPushButton>("RulesApply")->click();
        p.Find<QAction>("SaveIni2")->trigger();
        QVERIFY(qv::ReadMappingRules(p.ConfigPath()) == expected);
        p.Stop();
        p.Start();
        QVERIFY(p.roster->RulesBook().All() == expected);
        p.OpenForMapping2();
        QCOMPARE(p.In<QLineEdit>("RulesMaxConnections")->text(), QStringLiteral("3"));

        const auto reply = [&](const qv::RuleEntries& sent) {
            qv::ReceiveBuffer buffer;
            buffer.Reset("127.0.0.1");
            buffer.Append(
                qv::GreetingLines("server", "1.0") +
                qv::ConfigurationLines([](const std::string& control) { return control + "!"; }, sent));
            const std::string exchange = p.dir.File("exchange.qrvd");
            qv::SaveExchangeFile(exchange, buffer);
            return exchange;
        };
        const std::string withRules = reply(qv::StoredRuleEntries(expected));
        QVERIFY(qv::ReadMappingRules(withRules) == expected);
        QCOMPARE(qv::ReadConfiguration(withRules), qv::ReadConfiguration(reply({})));
        QVERIFY(qv::CheckLogin(withRules, "ServerLogin!", "ServerPassword!").verdict ==
                qv::LoginVerdict::Accepted);

        const std::string old = p.dir.File("old.qrvd");
        std::ofstream(old) << "[QuorvaneDataMapping]\r\nIncommingPort=80\r\n";
        p.platform.SetFileNames({QString::fromStdString(old)});
        p.platform.Answer(qv::Answer::Yes);
        p.Find<QAction>("Loadaolderconfiguration1")->trigger();
        QVERIFY(p.roster->RulesBook().All() == qv::AllMappingRules{});
    }
};

QV_TEST_MAIN(RulesTest)
#include "rules_test.moc"

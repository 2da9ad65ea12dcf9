// The mapping service with no window at all: started and stopped with plain values, followed
// through its signals, counts and log file.
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>

#include "core/profile/profile_file.h"
#include "core/relay/relay_listener.h"
#include "platform/ui_timer.h"
#include "service/connection_event_queue.h"
#include "service/listen_failure.h"
#include "service/mapping_rules.h"
#include "service/mapping_service.h"
#include "support/echo_server.h"
#include "support/qt_test_main.h"
#include "support/tcp_probe.h"
#include "support/temp_dir.h"
#include "support/udp_probe.h"

using namespace std::chrono_literals;

class MappingServiceTest : public QObject {
    Q_OBJECT
private slots:
    void relaysCountsAndStops_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<bool>("saving");
        QTest::newRow("mapping 2, saving") << 2 << true;
        QTest::newRow("mapping 6, not saving") << 6 << false;
    }
    void relaysCountsAndStops() {
        QFETCH(int, slot);
        QFETCH(bool, saving);
        qvtest::TempDir dir;
        qvtest::LocalServer echo(qvtest::ServerMode::Echo);
        qv::TMappingService service(dir.File("CLogs.txt"));
        service.SetLogSaving(saving);
        QSignalSpy connected(&service, &qv::TMappingService::Connected);
        QSignalSpy disconnected(&service, &qv::TMappingService::Disconnected);

        const int port = qvtest::FreePort();
        service.Start(slot, {port, "127.0.0.1", echo.Port()});
        QVERIFY(service.Running(slot));
        std::vector<qvtest::Fd> clients;
        for (int i = 0; i < 3; ++i) {
            clients.emplace_back(qvtest::ConnectLoopback(port));
            QVERIFY(qvtest::SendAll(clients.back().Get(), "ping"));
            QCOMPARE(qvtest::ReadExactly(clients.back().Get(), 4, 5s), std::string("ping"));
        }
        QTRY_COMPARE(service.Connections(slot), 3);
        QCOMPARE(service.Total(), 3);
        QCOMPARE(connected.count(), 3);
        QCOMPARE(connected.first().first().toInt(), slot);

        // One link closed from here, one by its client.
        const std::vector<qv::MappingLink> live = service.LiveLinks();
        QCOMPARE(live.size(), std::size_t(3));
        QCOMPARE(live.front().slot, slot);
        service.CloseLink(slot, live.front().figures.id);
        QTRY_COMPARE(service.Connections(slot), 2);
        QCOMPARE(service.EndedLinks().front().figures.reason, qv::RelayEndReason::ClosedByUser);
        // The client that ends its stream is one whose link is still live: the snapshot's order is the
        // relay threads', not the clients'.
        const auto& closed = reinterpret_cast<const sockaddr_in&>(live.front().figures.client.addr);
        const auto other = std::ranges::find_if(clients, [&](const qvtest::Fd& client) {
            return qvtest::LocalPort(client.Get()) != ntohs(closed.sin_port);
        });
        QVERIFY(other != clients.end());
        clients.erase(other);
        QTRY_COMPARE(service.Connections(slot), 1);
        // A stop reports every disconnection before it returns.
        const int stopped[] = {slot};
        service.Stop(stopped);
        QVERIFY(!service.Running(slot));
        QCOMPARE(service.Connections(slot), 0);
        QCOMPARE(disconnected.count(), 3);
        QCOMPARE(service.EndedLinks().size(), std::size_t(3));
        QCOMPARE(service.Totals(slot).connections, 3u);
        QCOMPARE(service.Totals(slot).endedBytesUp, 12u);
        QCOMPARE(service.Totals(slot).endedBytesDown, 12u);
        QCOMPARE(qvtest::ConnectLoopback(port, 1s), -1);

        const std::string log = qvtest::ReadAll(dir.File("CLogs.txt"));
        QCOMPARE(log.find("Disconnected on Mapping #" + std::to_string(slot)) != std::string::npos, saving);
    }

    // A client the rules refuse raises no connect or disconnect and changes no count: it is only listed
    // among the ended links, with its reason, and reported on its own.
    void refusedClientIsListedButNotCounted() {
        qvtest::TempDir dir;
        qvtest::LocalServer echo(qvtest::ServerMode::Echo);
        qv::TMappingService service(dir.File("CLogs.txt"));
        auto rules = std::make_shared<qv::RelayAccessRules>();
        rules->maxConnections = 1;
        service.SetAccessRules(5, rules);
        QSignalSpy connected(&service, &qv::TMappingService::Connected);
        QSignalSpy refused(&service, &qv::TMappingService::Refused);
        const int port = qvtest::FreePort();
        service.Start(5, {port, "127.0.0.1", echo.Port()});
        qvtest::Fd first(qvtest::ConnectLoopback(port));
        QVERIFY(qvtest::SendAll(first.Get(), "a") && qvtest::ReadExactly(first.Get(), 1, 5s) == "a");
        qvtest::Fd second(qvtest::ConnectLoopback(port));
        QTRY_COMPARE(refused.count(), 1);
        QCOMPARE(service.EndedLinks().front().figures.reason, qv::RelayEndReason::LimitReached);
        QCOMPARE(service.Totals(5).failures.at(qv::RelayEndReason::LimitReached), 1u);
        QCOMPARE(connected.count(), 1);
        QCOMPARE(service.Connections(5), 1);
    }

    // A UDP mapping: a session counts as a connection until its idle time ends it, and is listed with
    // its datagrams. A second UDP mapping on that port cannot start and says who has it; a TCP one can.
    void udpSessionsCountLikeConnections() {
        qvtest::TempDir dir;
        qvtest::UdpEcho echo("127.0.0.1");
        qv::TMappingService service(dir.File("CLogs.txt"));
        service.SetProtocol(3, qv::RelayProtocol::Udp, 300ms);
        service.SetProtocol(4, qv::RelayProtocol::Udp);
        const int port = qvtest::FreePort();
        service.Start(3, {port, "127.0.0.1", echo.Port()});
        qvtest::Fd client = qvtest::UdpSocket("127.0.0.1", 0, port);
        QCOMPARE(::send(client.Get(), "ping", 4, 0), 4);
        QCOMPARE(qvtest::ReceiveDatagram(client.Get()), std::optional<std::string>("ping"));
        QTRY_COMPARE(service.Connections(3), 1);
        try {
            service.Start(4, {port, "127.0.0.1", echo.Port()});
            QFAIL("a second UDP mapping took the port");
        } catch (const qv::ListenError& error) {
            QCOMPARE(error.Detail(),
                     QStringLiteral("UDP port %1 is already used by Mapping #3 of this program.").arg(port));
        }
        service.Start(5, {port, "127.0.0.1", echo.Port()});
        QTRY_COMPARE(service.Connections(3), 0);
        const qv::RelayLinkFigures& ended = service.EndedLinks().front().figures;
        QCOMPARE(ended.protocol, qv::RelayProtocol::Udp);
        QCOMPARE(ended.reason, qv::RelayEndReason::IdleTimeout);
        QCOMPARE(ended.datagramsUp, 1u);
        QCOMPARE(ended.datagramsDown, 1u);
        QCOMPARE(service.Totals(3).endedBytesDown, 4u);
    }

    // A UDP flood through the rules: clients refused from many addresses and ports are reported a
    // hundred a second and the rest as one number, so the event queue stays short; one address takes its
    // share of sessions and no more, and another is still served.
    void udpFloodStaysWithinBounds() {
        qvtest::TempDir dir;
        qvtest::UdpEcho echo("127.0.0.1");
        qv::TMappingService service(dir.File("CLogs.txt"));
        qv::MappingRules typed;
        typed.protocol = static_cast<int>(qv::RelayProtocol::Udp);
        typed.deny = QStringLiteral("127.0.2.0/24");
        typed.udpPerSource = QStringLiteral("5");
        qv::RelayRules rules;
        QCOMPARE(qv::CheckMappingRules(typed, rules), QString());
        qv::ApplyMappingRules(service, 2, rules);
        QSignalSpy refused(&service, &qv::TMappingService::Refused);
        QSignalSpy unlisted(&service, &qv::TMappingService::Unlisted);
        const int port = qvtest::FreePort();
        service.Start(2, {port, "127.0.0.1", echo.Port()});
        constexpr int kAddresses = 150;
        std::vector<qvtest::Fd> clients;
        for (int i = 0; i < 2 * kAddresses; ++i) {
            const std::string host = "127.0.2." + std::to_string(1 + i % kAddresses);
            clients.push_back(qvtest::UdpSocket(host.c_str(), 0, port));
            ::send(clients.back().Get(), "x", 1, 0);
        }
        const int kReports = qv::TRelaySources::kReportsPerSecond;
        QTRY_COMPARE(unlisted.count(), 1);
        QCOMPARE(unlisted.first().at(2).toULongLong(), quint64(kAddresses - kReports));
        QCOMPARE(refused.count(), kReports);
        QVERIFY(service.Events().PeakLength() <= std::size_t(kReports + 1));

        clients.clear();
        for (int i = 0; i < 20; ++i) {
            clients.push_back(qvtest::UdpSocket("127.0.0.1", 0, port));
            ::send(clients.back().Get(), "y", 1, 0);
        }
        qvtest::Fd other = qvtest::UdpSocket("127.0.0.3", 0, port);
        QCOMPARE(::send(other.Get(), "z", 1, 0), 1);
        QCOMPARE(qvtest::ReceiveDatagram(other.Get()), std::optional<std::string>("z"));
        QTRY_COMPARE(service.Connections(2), 6);
    }

    // Events the user-interface thread has not applied yet stay bounded whatever comes: refusals and
    // links whose accept still waits fold into counts, and every close still follows its accept.
    void fullQueueFoldsAndKeepsPairs() {
        std::map<std::uint64_t, int> open;
        std::uint64_t links = 0, refusals = 0, unpaired = 0;
        qv::TConnectionEventQueue queue([&](const qv::ConnectionEvent& e) {
            links += e.foldedLinks + (e.connected ? 1 : 0);
            refusals += e.foldedRefusals + (e.refused ? 1 : 0);
            if (e.connected)
                ++open[e.ended.id];
            else if (!e.refused && !e.folded && --open[e.ended.id] != 0)
                ++unpaired;
        });
        constexpr std::uint64_t kLinks = 3 * qv::TConnectionEventQueue::kMostWaiting;
        qv::RelayLinkFigures figures;
        for (std::uint64_t id = 1; id <= kLinks; ++id) {
            figures.id = id;
            queue.Post({1, true, figures});
            // Every third link lives on past the flood: its accept and close are both listed.
            if (id % 3 != 0)
                queue.Post({1, false, figures});
            queue.Post({1, false, figures, true});
        }
        for (std::uint64_t id = 3; id <= kLinks; id += 3) {
            figures.id = id;
            queue.Post({1, false, figures});
        }
        QVERIFY(queue.PeakLength() <= qv::TConnectionEventQueue::kMostWaiting + kLinks / 3 + 1);
        queue.DrainQueued();
        QCOMPARE(links, kLinks);
        QCOMPARE(refusals, kLinks);
        QCOMPARE(unpaired, 0u);
        QVERIFY(std::ranges::all_of(open, [](const auto& link) { return link.second == 0; }));
    }

    // Rules as typed: kept in the file exactly, however long a list, and checked with a message naming
    // the field and the first bad line.
    void rulesAreStoredAndChecked_data() {
        QTest::addColumn<QString>("allow");
        QTest::addColumn<QString>("maxConnections");
        QTest::addColumn<QString>("bandwidth");
        QTest::addColumn<QString>("listenAddress");
        QTest::addColumn<QString>("fallback");
        QTest::addColumn<QString>("error");
        QStringList many;
        for (int i = 0; i < 3000; ++i)
            many << QStringLiteral("10.%1.%2.0/24").arg(i / 256).arg(i % 256);
        QTest::newRow("good") << "10.0.0.0/8\n\n2001:db8::/32"
                              << "5"
                              << "2048"
                              << "::1"
                              << "[::1]:8080"
                              << "";
        QTest::newRow("long list") << many.join('\n') << ""
                                   << ""
                                   << "127.0.0.1"
                                   << ""
                                   << "";
        QTest::newRow("bad network") << "10.0.0.0/8\nexample.org"
                                     << ""
                                     << ""
                                     << ""
                                     << ""
                                     << "Allow, line 2: 'example.org'";
        QTest::newRow("bad limit") << ""
                                   << "0"
                                   << ""
                                   << ""
                                   << ""
                                   << "At most: '0'";
        QTest::newRow("bad bandwidth") << ""
                                       << ""
                                       << "fast"
                                       << ""
                                       << ""
                                       << "Bandwidth up: 'fast'";
        QTest::newRow("bad address") << ""
                                     << ""
                                     << ""
                                     << "localhost"
                                     << ""
                                     << "Listen on: 'localhost'";
        QTest::newRow("bad fallback") << ""
                                      << ""
                                      << ""
                                      << ""
                                      << "host-without-port"
                                      << "Fallback: 'host-without-port'";
    }
    void rulesAreStoredAndChecked() {
        QFETCH(QString, allow);
        QFETCH(QString, maxConnections);
        QFETCH(QString, bandwidth);
        QFETCH(QString, listenAddress);
        QFETCH(QString, fallback);
        QFETCH(QString, error);
        qvtest::TempDir dir;
        const std::string path = dir.File("rules.qrvd");
        qv::AllMappingRules written;
        qv::MappingRules& r = written[2];
        r.listenOn = listenAddress.isEmpty() ? 2 : 3;
        r.listenAddress = listenAddress;
        r.allow = allow;
        r.deny = QStringLiteral("192.0.2.1");
        r.maxConnections = maxConnections;
        r.bandwidthUp = bandwidth;
        r.fallback1 = fallback;
        r.proxyProtocol = 2;
        r.protocol = 2;
        r.udpIdle = QStringLiteral("15");
        r.udpPerSource = QStringLiteral("40");
        qv::ProfileBatch batch(path);
        qv::WriteMappingRules(batch, written);
        batch.Commit();
        QVERIFY(qv::ReadMappingRules(path) == written);
        qv::RelayRules rules;
        const QString message = qv::CheckMappingRules(written[2], rules);
        QVERIFY2(error.isEmpty() ? message.isEmpty() : message.startsWith(error), qPrintable(message));
        if (QTest::currentDataTag() == QLatin1String("good")) {
            QVERIFY(rules.access && rules.access->maxConnections == 5);
            QCOMPARE(rules.bandwidthUp, 2048u * 1024);
            QCOMPARE(rules.listenOn.address, std::string("::1"));
            QCOMPARE(rules.fallbacks.size(), std::size_t(1));
            QCOMPARE(rules.fallbacks[0].host, std::string("::1"));
            QCOMPARE(rules.proxyProtocol, 2);
            QCOMPARE(rules.udpPerSource, 40);
        }
    }

    // Armed, a connection on mapping 1 opens the timed mapping a moment later and closes it after
    // its time; disarming closes it at once.
    void timedMappingFollowsItsClock() {
        qvtest::TempDir dir;
        qvtest::LocalServer echo(qvtest::ServerMode::Echo);
        qv::TMappingService service(dir.File("CLogs.txt"));
        const int port1 = qvtest::FreePort();
        const int port7 = qvtest::FreePort();
        service.Start(1, {port1, "127.0.0.1", echo.Port()});
        service.ArmTimed({port7, "127.0.0.1", echo.Port()}, 50, 400);
        QVERIFY(!service.Running(qv::TMappingService::kTimedSlot));
        qvtest::Fd client(qvtest::ConnectLoopback(port1));
        QTRY_VERIFY(service.Running(qv::TMappingService::kTimedSlot));
        QTRY_VERIFY_WITH_TIMEOUT(!service.Running(qv::TMappingService::kTimedSlot), 3000);
        qvtest::Fd again(qvtest::ConnectLoopback(port1));
        QTRY_VERIFY(service.Running(qv::TMappingService::kTimedSlot));
        service.DisarmTimed();
        QVERIFY(!service.Running(qv::TMappingService::kTimedSlot));
        QVERIFY(!service.Clock(1)->Enabled() && !service.Clock(2)->Enabled());
    }
};

QV_TEST_MAIN(MappingServiceTest)
#include "mapping_service_test.moc"

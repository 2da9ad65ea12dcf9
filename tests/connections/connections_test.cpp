// The connections window as a user sees it: live links through real mappings on 127.0.0.1, the
// ended ones with their reasons, closing one link, and the export.
#include <QAbstractItemModel>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "connections/connections_window.h"
#include "connections/human_units.h"
#include "connections/mapping_summary.h"
#include "core/relay/relay_listener.h"
#include "core/relay/relay_port_holder.h"
#include "core/relay/relay_socket.h"
#include "mapping/mapping_slot.h"
#include "service/listen_failure.h"
#include "shell/main_window.h"
#include "support/echo_server.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/tcp_probe.h"
#include "support/temp_dir.h"
#include "support/udp_probe.h"

using namespace qvtest;
using namespace std::chrono_literals;

namespace {

struct Program : RosterFixture {
    Program() {
        StoreCurrentMarker();
        Start();
    }
    // Mapping `slot` from a free port to 127.0.0.1:destination, switched on; its port.
    int SwitchOn(int slot, int destination) const { return SwitchOnAt(slot, FreePort(), destination); }
    int SwitchOnAt(int slot, int port, int destination) const {
        const QString n = slot == 1 ? QString() : QString::number(slot);
        Find<QLineEdit>(("IncommingPort" + n).toLatin1())->setText(QString::number(port));
        Find<QLineEdit>(("OutcommingPort" + n).toLatin1())->setText(QString::number(destination));
        Find<QLineEdit>(("OutcommingIp" + n).toLatin1())->setText(QStringLiteral("127.0.0.1"));
        Find<QPushButton>(("MappingEnable" + n).toLatin1())->click();
        return port;
    }
    qv::TConnectionsForm& Window() const { return roster->Connections(); }
    QTableView* View(const char* name) const {
        return Window().findChild<QTableView*>(QString::fromLatin1(name));
    }
    // The texts of one column of a table, top to bottom.
    QStringList Column(const char* view, const QString& caption) const {
        QAbstractItemModel* model = View(view)->model();
        int column = 0;
        while (column < model->columnCount() &&
               model->headerData(column, Qt::Horizontal).toString() != caption)
            ++column;
        QStringList texts;
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, column).data().toString();
        return texts;
    }
};

} // namespace

class ConnectionsTest : public QObject {
    Q_OBJECT
private slots:
    void humanUnits_data() {
        QTest::addColumn<qulonglong>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("bytes") << 512ULL << "512 B";
        QTest::newRow("kibibytes") << 1500ULL << "1.46 KiB";
        QTest::newRow("mebibytes") << 12900000ULL << "12.3 MiB";
        QTest::newRow("gibibytes") << (300ULL << 30) << "300 GiB";
    }
    void humanUnits() {
        QFETCH(qulonglong, bytes);
        QFETCH(QString, text);
        QCOMPARE(qv::HumanBytes(bytes), text);
        QCOMPARE(qv::HumanDuration(3720s), QStringLiteral("1 h 02 min"));
        QCOMPARE(qv::HumanDuration(65s), QStringLiteral("1 min 05 s"));
    }

    // Two live links and a refused one; one live link closed from the window; the rest exported.
    void showsClosesAndExports() {
        Program p;
        LocalServer echo(ServerMode::Echo);
        RefusingPort refusing;
        const int port2 = p.SwitchOn(2, echo.Port());
        const int port3 = p.SwitchOn(3, refusing.Port());
        p.roster->Mapping().findChild<QAction*>(QStringLiteral("Connections1"))->trigger();
        QVERIFY(p.Window().isVisible());

        Fd first(ConnectLoopback(port2));
        Fd second(ConnectLoopback(port2));
        QVERIFY(SendAll(first.Get(), "first") && ReadExactly(first.Get(), 5, 5s) == "first");
        QVERIFY(SendAll(second.Get(), "second!") && ReadExactly(second.Get(), 7, 5s) == "second!");
        Fd refused(ConnectLoopback(port3));
        QTRY_COMPARE(p.Column("EndedConnectionsView", "Reason"), QStringList{"destination refused"});
        QCOMPARE(p.Column("EndedConnectionsView", "Destination"),
                 QStringList{QStringLiteral("127.0.0.1:%1").arg(refusing.Port())});
        QTRY_COMPARE(p.Column("ConnectionsView", "Sent").size(), 2);
        QTRY_VERIFY(p.Column("ConnectionsView", "Received").contains(QStringLiteral("7 B")));
        // A rate is the bytes between two snapshots over their time apart.
        p.Window().Refresh();
        const std::string bulk(100000, 'x');
        QVERIFY(SendAll(second.Get(), bulk) && ReadExactly(second.Get(), bulk.size(), 5s) == bulk);
        QTest::qWait(100);
        p.Window().Refresh();
        QVERIFY(p.Column("ConnectionsView", "Receiving").filter(QStringLiteral("KiB/s")).size() == 1);
        QVERIFY(p.Window()
                    .findChild<qv::TMappingSummary*>(QStringLiteral("MappingSummary"))
                    ->LineText(3)
                    .contains(QStringLiteral("destination refused 1")));

        // The filter finds a link by its client's port.
        auto* filter = p.Window().findChild<QLineEdit*>(QStringLiteral("ConnectionsFilter"));
        filter->setText(QStringLiteral("Mapping #3"));
        QCOMPARE(p.View("ConnectionsView")->model()->rowCount(), 0);
        filter->clear();

        // Close the link that carried "first": its client sees the end, the other still echoes.
        QTableView* live = p.View("ConnectionsView");
        const QStringList sent = p.Column("ConnectionsView", "Sent");
        live->selectRow(static_cast<int>(sent.indexOf(QStringLiteral("5 B"))));
        auto* close = p.Window().findChild<QPushButton*>(QStringLiteral("CloseConnection"));
        QVERIFY(close->isEnabled());
        close->click();
        bool eof = false;
        ReadToEnd(first.Get(), 5s, &eof);
        QVERIFY(eof);
        QTRY_COMPARE(p.roster->Mapping().findChild<QLabel*>(QStringLiteral("NCMapping2"))->text(),
                     QStringLiteral("1"));
        QVERIFY(SendAll(second.Get(), "more") && ReadExactly(second.Get(), 4, 5s) == "more");
        QTRY_VERIFY(p.Column("EndedConnectionsView", "Reason")
                        .contains(QStringLiteral("closed from the connections window")));

        p.platform.SetFileNames({QString::fromStdString(p.dir.File("links.csv"))});
        p.Window().findChild<QPushButton*>(QStringLiteral("ExportConnections"))->click();
        const QStringList lines = QString::fromUtf8(ReadAll(p.dir.File("links.csv")))
                                      .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4); // the header, one live link, two ended
        QVERIFY(lines[1].startsWith(QStringLiteral("live,2,127.0.0.1:")));
        QVERIFY(lines[1].contains(QStringLiteral(",relaying,,100011,100011,")));
        QVERIFY(lines[2].startsWith(QStringLiteral("ended,2,")) &&
                lines[2].contains(QStringLiteral(",5,5,")));
        QVERIFY(lines[3].contains(QStringLiteral(",destination refused,0,0,")));
        QVERIFY(lines[1].endsWith(QStringLiteral(",TCP,,,")));
    }

    // Links ending scattered through the table leave it in one change, and the selected one stays
    // selected.
    void scatteredEndingsLeaveInOneChange() {
        Program p;
        LocalServer echo(ServerMode::Echo);
        const int port = p.SwitchOn(2, echo.Port());
        std::map<QString, Fd> clients; // by the client's address as the table shows it
        for (int i = 0; i < 6; ++i) {
            Fd client(ConnectLoopback(port));
            QVERIFY(SendAll(client.Get(), "x") && ReadExactly(client.Get(), 1, 5s) == "x");
            clients.emplace(QStringLiteral("127.0.0.1:%1").arg(LocalPort(client.Get())), std::move(client));
        }
        QTRY_COMPARE(p.roster->Service().LiveLinks().size(), std::size_t(6));
        p.Window().Refresh();
        const QStringList rows = p.Column("ConnectionsView", "Client");
        QCOMPARE(rows.size(), 6);
        QTableView* view = p.View("ConnectionsView");
        view->selectRow(3);
        for (int row : {0, 2, 4})
            clients.erase(rows[row]);
        QTRY_COMPARE(p.roster->Service().LiveLinks().size(), std::size_t(3));
        const QAbstractItemModel* model = static_cast<QSortFilterProxyModel*>(view->model())->sourceModel();
        QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy laidOut(model, &QAbstractItemModel::layoutChanged);
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        p.Window().Refresh();
        QCOMPARE(removed.count() + laidOut.count() + reset.count(), 1);
        QCOMPARE(p.Column("ConnectionsView", "Client"), (QStringList{rows[1], rows[3], rows[5]}));
        const QModelIndexList selected = view->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().row(), 1);
    }

    // A UDP session is listed as such, its bytes with its datagrams, live and then ended, and exported
    // with its datagram counts.
    void udpSessionShowsItsDatagrams() {
        Program p;
        UdpEcho echo("127.0.0.1");
        p.roster->Mapping().Slot(4).Listener().SetProtocol(qv::RelayProtocol::Udp);
        p.roster->Mapping().Slot(4).Listener().SetUdpIdleTimeout(3s);
        const int port = p.SwitchOn(4, echo.Port());
        p.roster->Mapping().findChild<QAction*>(QStringLiteral("Connections1"))->trigger();
        Fd client = UdpSocket("127.0.0.1", 0, port);
        for (const char* datagram : {"0123456789", "abcdefghij", ""}) {
            QCOMPARE(::send(client.Get(), datagram, std::strlen(datagram), 0),
                     ssize_t(std::strlen(datagram)));
            QCOMPARE(ReceiveDatagram(client.Get()), std::optional<std::string>(datagram));
        }
        QTRY_COMPARE(p.Column("ConnectionsView", "Protocol"), QStringList{"UDP"});
        QTRY_COMPARE(p.Column("ConnectionsView", "Received"), QStringList{"20 B (3 dgrams)"});
        QTRY_COMPARE_WITH_TIMEOUT(p.Column("EndedConnectionsView", "Reason"), QStringList{"idle timeout"},
                                  8000);
        QCOMPARE(p.Column("EndedConnectionsView", "Sent"), QStringList{"20 B (3 dgrams)"});

        p.platform.SetFileNames({QString::fromStdString(p.dir.File("links.csv"))});
        p.Window().findChild<QPushButton*>(QStringLiteral("ExportConnections"))->click();
        const QStringList lines = QString::fromUtf8(ReadAll(p.dir.File("links.csv")))
                                      .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(
            QStringLiteral(",protocol,datagrams sent,datagrams received,datagrams dropped")));
        QVERIFY2(lines[1].startsWith(QStringLiteral("ended,4,127.0.0.1:")) &&
                     lines[1].endsWith(QStringLiteral(",UDP,3,3,0")),
                 qPrintable(lines[1]));
    }

    // "Enable" on a port someone holds: the box's text is the listener's as ever, its details say who
    // holds the port, and the connections window's line of that mapping says the same while it is off.
    void enableFailureSaysWhoHoldsThePort_data() {
        QTest::addColumn<bool>("byAnotherMapping");
        QTest::addColumn<QString>("holder");
        QTest::newRow("another mapping") << true << "Mapping #2 of this program";
        QTest::newRow("another program") << false << "qv-holder (process ";
    }
    void enableFailureSaysWhoHoldsThePort() {
        QFETCH(bool, byAnotherMapping);
        QFETCH(QString, holder);
        Program p;
        LocalServer echo(ServerMode::Echo);
        int port = 0;
        pid_t child = -1;
        if (byAnotherMapping) {
            port = p.SwitchOn(2, echo.Port());
        } else {
            int ends[2];
            QCOMPARE(::pipe(ends), 0);
            child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                ::prctl(PR_SET_NAME, "qv-holder");
                const int listening = ListenLoopback(1);
                const int bound = LocalPort(listening);
                [[maybe_unused]] const ssize_t n = ::write(ends[1], &bound, sizeof bound);
                ::pause();
                ::_exit(0);
            }
            QCOMPARE(::read(ends[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
            ::close(ends[0]);
            ::close(ends[1]);
        }
        p.platform.ExpectBox(qv::BoxKind::Error);
        QCOMPARE(p.SwitchOnAt(3, port, echo.Port()), port);
        if (child > 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        const qvtest::BoxRecord box = p.platform.Boxes().last();
        QCOMPARE(box.text, QString::fromLatin1(qv::kAddressInUseText));
        QVERIFY2(box.detail.contains(holder), qPrintable(box.detail));
        p.roster->Mapping().findChild<QAction*>(QStringLiteral("Connections1"))->trigger();
        QVERIFY(p.Window()
                    .findChild<qv::TMappingSummary*>(QStringLiteral("MappingSummary"))
                    ->LineText(3)
                    .contains(holder));
    }

    // A search for a port's holder that cannot finish (a table that does not answer) gives up at its
    // bound: some program holds the port, which one is not known.
    void portHolderSearchGivesUpAtItsBound() {
        TempDir proc;
        std::filesystem::create_directory(proc.Path() / "net");
        const std::string table = proc.File("net/tcp");
        QCOMPARE(::mkfifo(table.c_str(), 0600), 0);
        const std::optional<qv::PortHolder> holder =
            qv::FindPortHolder(8080, proc.Path().string(), false, 50ms);
        QVERIFY(holder && holder->outOfTime && holder->pid == 0);
        // A writer that comes and goes lets the search left behind read an empty table and end.
        int writer = -1;
        QVERIFY(WaitUntil([&] { return (writer = ::open(table.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }));
        ::close(writer);
    }

    void privilegedPortDetailGivesTheCommands() {
        Program p;
        const QString detail = qv::ListenFailureDetail(EACCES, 80, 1, p.roster->Service());
        QVERIFY(detail.contains(QStringLiteral("sudo setcap cap_net_bind_service=+ep ") +
                                QString::fromStdString(qv::OwnExecutable())));
        QVERIFY(detail.contains(QStringLiteral("net.ipv4.ip_unprivileged_port_start=80")));
    }
};

QV_TEST_MAIN(ConnectionsTest)
#include "connections_test.moc"

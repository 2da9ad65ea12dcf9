// Soak of a mapping with the window open: many short connections through mapping #1 of the real main
// window (offscreen), while the user-interface thread is watched; then many live links held open with
// the connections window shown; then the live table given a snapshot in which links ended scattered
// through it. Prints one figure per line.
//
//   relay_soak DEST_PORT [CONNECTIONS [CLIENTS_AT_A_TIME [LIVE_LINKS]]]
//
// Each live link takes three descriptors here (client, accepted, outgoing): raise the hard limit
// (ulimit -Hn) for 10,000 of them; with less, as many as fit are opened.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "connections/connections_window.h"
#include "connections/links_model.h"
#include "core/relay/relay_socket.h"
#include "log/connection_log.h"
#include "mapping/mapping_slot.h"
#include "service/connection_event_queue.h"
#include "shell/main_window.h"
#include "support/roster_fixture.h"
#include "support/tcp_probe.h"

namespace {

// connect, one byte echoed by the destination's echo mode, close: as the connection-rate benchmark does.
bool OneConnection(int port) {
    qvtest::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    timeval limit{5, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char c = 0;
    return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
           ::send(fd.Get(), "Ex", 2, MSG_NOSIGNAL) == 2 && ::recv(fd.Get(), &c, 1, 0) == 1;
}

long StatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string name;
    long value = 0;
    while (status >> name) {
        if (name == key) {
            status >> value;
            return value;
        }
        status.ignore(1 << 10, '\n');
    }
    return 0;
}

// One snapshot applied to the connections window's table of live links (with its sorting proxy and
// view, as the window has them) when `ended` of `rows` links have ended, spread through the table as
// UDP sessions in hash order are: milliseconds.
double ScatteredEndingsMs(int rows, int ended) {
    qv::TLinksModel model(qv::TLinksModel::Kind::Live);
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    proxy.setSortRole(Qt::UserRole);
    proxy.setDynamicSortFilter(true);
    QTableView view;
    view.setModel(&proxy);
    std::vector<qv::MappingLink> links(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        links[i].slot = 1;
        links[i].figures.id = static_cast<std::uint64_t>(i) + 1;
        links[i].figures.protocol = qv::RelayProtocol::Udp;
    }
    const auto now = std::chrono::steady_clock::now();
    model.UpdateLive(links, now);
    view.selectRow(rows - 1);
    std::vector<qv::MappingLink> kept;
    for (int i = 0; i < rows; ++i)
        if (i % (rows / ended) != 0)
            kept.push_back(links[i]);
    QElapsedTimer clock;
    clock.start();
    model.UpdateLive(std::move(kept), now + std::chrono::milliseconds(500));
    return clock.nsecsElapsed() / 1e6;
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(QDir(QStringLiteral("/proc/self/fd")).count()) - 2; // "." and ".."
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DEST_PORT [CONNECTIONS [CLIENTS_AT_A_TIME]]\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGPIPE, SIG_IGN);
    qv::RaiseDescriptorLimit();
    QApplication app(argc, argv);
    const int destination = std::atoi(argv[1]);
    const int total = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int clients = argc > 3 ? std::atoi(argv[3]) : 16;

    qvtest::RosterFixture program;
    program.StoreCurrentMarker();
    qv::TQuorvaneMapping& window = program.Start().Mapping();
    qv::TMappingSlot& slot = window.Slot(1);
    const int port = qvtest::FreePort();
    slot.IncommingPort()->setText(QString::number(port));
    slot.OutcommingPort()->setText(QString::number(destination));
    slot.OutcommingIp()->setText(QStringLiteral("127.0.0.1"));
    slot.MappingEnableClick();
    if (!slot.IsOn()) {
        std::fprintf(stderr, "mapping #1 did not switch on\n");
        return 1;
    }
    QListWidget* list = window.Log().ListCient();

    // The user-interface thread's view: a 10 ms timer that should tick on time all along.
    qint64 longestGap = 0;
    std::size_t peakList = 0, peakFds = 0;
    int ticks = 0;
    bool countDescriptors = true;
    QElapsedTimer sinceTick;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        peakList = std::max(peakList, static_cast<std::size_t>(list->count()));
        // Counting descriptors lists /proc/self/fd: cheap for the short connections, not for thousands
        // of live links, so it stops before those are opened.
        if (++ticks % 10 == 0 && countDescriptors)
            peakFds = std::max(peakFds, OpenDescriptors());
    });

    std::atomic<int> next{0}, failed{0}, running{clients};
    QElapsedTimer wall;
    wall.start();
    sinceTick.start();
    ticker.start(10);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&] {
            while (next.fetch_add(1) < total)
                if (!OneConnection(port))
                    ++failed;
            --running;
        });

    qint64 clientsDone = -1, applied = -1;
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (clientsDone < 0 && running.load() == 0)
            clientsDone = wall.elapsed();
        if (clientsDone >= 0 && window.Events().Length() == 0 &&
            slot.NCMapping()->text() == QStringLiteral("0") &&
            window.StatusPanel(1)->text() == QStringLiteral("0")) {
            applied = wall.elapsed();
            loop.quit();
        }
    });
    watch.start(5);
    loop.exec();
    watch.stop();
    for (std::thread& t : threads)
        t.join();

    const double seconds = clientsDone / 1000.0;
    std::printf("Soak: %d connections through mapping #1, %d at a time, window open (offscreen)\n", total,
                clients);
    std::printf("| connections relayed (failed) | %d (%d) in %.1f s, %.0f/s |\n", total - failed.load(),
                failed.load(), seconds, total / seconds);
    std::printf("| peak event-queue length | %zu |\n", window.Events().PeakLength());
    std::printf("| time to apply the queue after the last client | %lld ms |\n",
                static_cast<long long>(applied - clientsDone));
    std::printf("| connection list (entries, peak) | %d, %zu (cap %d) |\n", list->count(), peakList,
                qv::TConnectionLog::kMaxEntries);
    std::printf("| longest gap between 10 ms timer ticks on the UI thread | %lld ms |\n",
                static_cast<long long>(longestGap));
    std::printf("| peak memory (VmHWM) | %.1f MiB |\n", StatusKiB("VmHWM:") / 1024.0);
    std::printf("| peak descriptors (clients included) | %zu |\n", peakFds);
    std::printf("| counts at the end (slot, total) | %s, %s |\n", qPrintable(slot.NCMapping()->text()),
                qPrintable(window.StatusPanel(1)->text()));

    // Live links held open with the connections window shown: its snapshots must not hold up the
    // user-interface thread.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const int wanted = argc > 4 ? std::atoi(argv[4]) : 10000;
    const int live = std::min<long>(wanted, (static_cast<long>(limit.rlim_cur) - 300) / 3);
    countDescriptors = false;
    std::vector<qvtest::Fd> links;
    for (int i = 0; i < live; ++i)
        links.emplace_back(qvtest::ConnectLoopback(port));
    qv::TConnectionsForm& connections = program.roster->Connections();
    connections.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 3000 && window.Service().LiveLinks().size() < static_cast<std::size_t>(live))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    longestGap = 0;
    sinceTick.restart();
    QElapsedTimer refreshClock;
    qint64 refreshTotal = 0;
    qint64 refreshLongest = 0;
    int refreshes = 0;
    QTimer measure;
    QObject::connect(&measure, &QTimer::timeout, [&] {
        refreshClock.start();
        connections.Refresh();
        refreshTotal += refreshClock.nsecsElapsed();
        refreshLongest = std::max(refreshLongest, refreshClock.nsecsElapsed());
        ++refreshes;
    });
    measure.start(static_cast<int>(qv::TConnectionsForm::kRefresh.count()));
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    end.start(5000);
    loop.exec();
    const double perRefreshMs = refreshes ? refreshTotal / 1e6 / refreshes : 0;
    std::printf("Live: %d links held open through mapping #1, connections window shown (offscreen)\n", live);
    std::printf("| links in the window's table | %zu |\n", window.Service().LiveLinks().size());
    std::printf("| one refresh of the window (snapshot, model, summary) | %.1f ms |\n", perRefreshMs);
    std::printf("| longest refresh | %.1f ms |\n", refreshLongest / 1e6);
    std::printf("| window's update cost per second (two refreshes) | %.1f ms |\n",
                perRefreshMs * 1000.0 / qv::TConnectionsForm::kRefresh.count());
    std::printf("| longest gap between 10 ms timer ticks on the UI thread | %lld ms |\n",
                static_cast<long long>(longestGap));
    links.clear();
    std::printf("Scattered endings: one snapshot applied to the connections window's live table\n");
    for (const auto& [rows, ended] : {std::pair{15000, 5000}, std::pair{30000, 10000}})
        std::printf("| %d rows, %d of them ended, spread through the table | %.1f ms |\n", rows, ended,
                    ScatteredEndingsMs(rows, ended));
    slot.MappingDisableClick();
    program.Stop();
    return failed.load() == 0 ? 0 : 1;
}

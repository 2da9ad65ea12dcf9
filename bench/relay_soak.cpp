// Soak of a mapping with the window open: many short connections through mapping #1 of the real main
// window (offscreen), while the user-interface thread is watched. Prints one figure per line.
//
//   relay_soak DEST_PORT [CONNECTIONS [CLIENTS_AT_A_TIME]]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

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
    QElapsedTimer sinceTick;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        peakList = std::max(peakList, static_cast<std::size_t>(list->count()));
        if (++ticks % 10 == 0)
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
    slot.MappingDisableClick();
    program.Stop();
    return failed.load() == 0 ? 0 : 1;
}

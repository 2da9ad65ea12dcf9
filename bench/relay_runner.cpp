// Runs one relay listener in the foreground until SIGINT or SIGTERM, for the benchmark.
//
//   relay_runner LISTEN_PORT DEST_HOST DEST_PORT [tcp|udp|both]
#include "core/relay/relay_listener.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <string>

int main(int argc, char** argv) {
    const std::string protocol = argc == 5 ? argv[4] : "tcp";
    if ((argc != 4 && argc != 5) || (protocol != "tcp" && protocol != "udp" && protocol != "both")) {
        std::fprintf(stderr, "usage: %s LISTEN_PORT DEST_HOST DEST_PORT [tcp|udp|both]\n", argv[0]);
        return 2;
    }
    qv::RaiseDescriptorLimit();
    // Blocked before any thread starts, so only sigwait below sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    qv::TRelayListener listener;
    listener.SetDefaultPort(std::atoi(argv[1]));
    listener.SetMappedHost(argv[2]);
    listener.SetMappedPort(std::atoi(argv[3]));
    listener.SetTerminateWaitTime(1000);
    listener.SetProtocol(protocol == "tcp"   ? qv::RelayProtocol::Tcp
                         : protocol == "udp" ? qv::RelayProtocol::Udp
                                             : qv::RelayProtocol::Both);
    try {
        listener.SetActive(true);
    } catch (const qv::RelayError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "relaying port %d to %s:%s\n", listener.ListeningPort(), argv[2], argv[3]);
    int sig = 0;
    sigwait(&stop, &sig);
    listener.SetActive(false);
    return 0;
}

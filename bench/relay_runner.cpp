// Runs one relay listener in the foreground until SIGINT or SIGTERM, for the benchmark.
//
//   relay_runner LISTEN_PORT DEST_HOST DEST_PORT
#include "core/relay/relay_listener.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s LISTEN_PORT DEST_HOST DEST_PORT\n", argv[0]);
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

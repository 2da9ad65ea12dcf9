// Runs one relay listener in the foreground until SIGINT or SIGTERM, for the benchmark.
//
//   relay_runner LISTEN_PORT DEST_HOST DEST_PORT [tcp|udp|both] [--rules] [--bandwidth UP DOWN]
//
// --rules: an allow list of 10,000 networks that holds 127.0.0.1, a fallback destination and a
// connection limit, none of which turns a client away: what the rules cost a mapping that passes them.
// --bandwidth: the mapping's limit each way, in bytes per second (0: none).
#include "core/relay/relay_listener.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pthread.h>
#include <string>

namespace {

constexpr int kAllowed = 10000;

// /16, /24 and /32 networks elsewhere, then 127.0.0.1 last.
std::shared_ptr<qv::RelayAccessRules> WideRules() {
    auto rules = std::make_shared<qv::RelayAccessRules>();
    for (int i = 0; i < kAllowed; ++i) {
        std::string text;
        if (i == kAllowed - 1)
            text = "127.0.0.1";
        else if (i % 10 == 0)
            text = std::to_string(10 + i / 10 / 256) + "." + std::to_string(i / 10 % 256) + ".0.0/16";
        else if (i % 2 == 0)
            text = "100." + std::to_string(64 + i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                   std::to_string(i % 256);
        else
            text = "172." + std::to_string(16 + i / 256) + "." + std::to_string(i % 256) + ".0/24";
        qv::RelayNetwork network;
        std::string error;
        if (!qv::ParseNetwork(text, network, error)) {
            std::fprintf(stderr, "%s: %s\n", text.c_str(), error.c_str());
            std::exit(1);
        }
        rules->allow.Add(network);
    }
    rules->maxConnections = 1000000;
    return rules;
}

} // namespace

int main(int argc, char** argv) {
    std::string protocol = "tcp";
    bool rules = false;
    std::uint64_t up = 0;
    std::uint64_t down = 0;
    int i = 4;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "tcp") == 0 || std::strcmp(argv[i], "udp") == 0 ||
            std::strcmp(argv[i], "both") == 0) {
            protocol = argv[i];
        } else if (std::strcmp(argv[i], "--rules") == 0) {
            rules = true;
        } else if (std::strcmp(argv[i], "--bandwidth") == 0 && i + 2 < argc) {
            up = std::strtoull(argv[++i], nullptr, 10);
            down = std::strtoull(argv[++i], nullptr, 10);
        } else {
            break;
        }
    }
    if (argc < 4 || i != argc) {
        std::fprintf(
            stderr,
            "usage: %s LISTEN_PORT DEST_HOST DEST_PORT [tcp|udp|both] [--rules] [--bandwidth UP DOWN]\n",
            argv[0]);
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
    if (rules) {
        listener.SetAccessRules(WideRules());
        // Tried only when the mapped destination cannot be connected, which does not happen here.
        listener.SetFallbacks({{argv[2], std::atoi(argv[3]) + 1}});
    }
    listener.SetBandwidth(up, down);
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

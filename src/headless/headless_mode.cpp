#include "headless/headless_mode.h"

#include <QCoreApplication>
#include <cstdio>

#include "core/logfile/log_file.h"
#include "core/profile/config_names.h"
#include "headless/headless_runner.h"
#include "platform/file_locations.h"
#include "platform/instance_lock.h"
#include "platform/termination_signals.h"

namespace qv {

int RunHeadless(int argc, char** argv, const std::string& configOption) {
    QCoreApplication app(argc, argv);
    const FileLocations places = LocateFiles(argv[0]);
    const std::string configPath = configOption.empty() ? places.writableDir + kConfigFileName : configOption;

    THeadlessRunner runner(configPath, places.writableDir + kLogFileName, stdout, stderr);
    // Checked before the lock, so a name that is no configuration leaves no lock file behind.
    if (!runner.Readable())
        return 1;
    InstanceLock lock(configPath, "headless");
    switch (lock.Take()) {
    case InstanceLock::State::Taken:
        break;
    case InstanceLock::State::HeldByOther:
        std::fprintf(stderr, "quorvane: %s is already running (pid %ld)\n", configPath.c_str(),
                     lock.HeldBy().pid);
        return 1;
    default:
        std::fprintf(stderr, "quorvane: cannot take the lock %s: %s\n", lock.Path().c_str(),
                     lock.Problem().c_str());
        return 1;
    }

    // Caught before the mappings start, so an early signal also ends in order.
    TerminationSignals caught(
        [&runner] {
            runner.End();
            QCoreApplication::quit();
        },
        [&runner] { runner.Reload(); });
    if (!runner.Start())
        return 1;
    return QCoreApplication::exec();
}

} // namespace qv

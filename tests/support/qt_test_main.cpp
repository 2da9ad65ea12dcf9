#include "support/qt_test_main.h"

#include <atomic>
#include <cstdio>

namespace qvtest {

namespace {
std::atomic<int> warnings{0};
QtMessageHandler previous = nullptr;

void Record(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // The offscreen platform says this of every window it shows; it is not the program's fault.
    const bool platformNoise = message.contains(QLatin1String("propagateSizeHints"));
    if ((type == QtWarningMsg || type == QtCriticalMsg) && !platformNoise)
        ++warnings;
    if (previous)
        previous(type, context, message);
}
} // namespace

int RunQtTest(int argc, char** argv, QObject* test) {
    previous = qInstallMessageHandler(Record);
    const int failed = QTest::qExec(test, argc, argv);
    qInstallMessageHandler(previous);
    if (warnings > 0) {
        std::fprintf(stderr, "%d unexpected Qt warning(s) during the run\n", warnings.load());
        return failed ? failed : 1;
    }
    return failed;
}

} // namespace qvtest

#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace qv {

// SIGTERM, SIGINT and SIGHUP (the desktop session ending, Ctrl+C in a terminal) end the program the
// orderly way, on the event loop's thread, so the closing log line and the settings are written.
// Given `onReload`, SIGHUP calls it instead, as often as it comes (a service re-reading its file).
class TerminationSignals : public QObject {
public:
    explicit TerminationSignals(std::function<void()> onEnd, std::function<void()> onReload = {},
                                QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    void Received();

    std::function<void()> onEnd_;
    std::function<void()> onReload_;
    QSocketNotifier* notifier_ = nullptr;
    bool ending_ = false;
};

} // namespace qv

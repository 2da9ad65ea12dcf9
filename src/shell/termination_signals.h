#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace qv {

// SIGTERM, SIGINT and SIGHUP (the desktop session ending, Ctrl+C in a terminal) end the program the
// orderly way, on the user-interface thread, so the closing log line and the settings are written.
class TerminationSignals : public QObject {
public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    void Received();

    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    bool ending_ = false;
};

} // namespace qv

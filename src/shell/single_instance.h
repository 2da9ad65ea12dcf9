#pragma once

#include <QObject>
#include <functional>
#include <string>

#include "platform/instance_lock.h"

class QLocalServer;

namespace qv {

class Platform;

// One window instance per configuration. The first start takes the configuration's lock and
// answers later starts on a local socket; a later start asks it to show its window and leaves.
class TSingleInstance : public QObject {
public:
    explicit TSingleInstance(const std::string& configPath);
    ~TSingleInstance() override;

    enum class Outcome {
        Run,     // this instance runs the configuration
        Raised,  // the running window was asked to show itself: this start is done
        Refused, // a headless instance runs it, or the running one did not answer: said so
    };
    // Before any window exists. A restarted instance (`restarted`) waits a while for the old one to
    // give the configuration up.
    Outcome Claim(Platform& platform, bool restarted);
    // From now on a later start's request calls `show` (on this thread).
    void Answer(std::function<void()> show);
    // Once the windows are ending: later starts find nobody to answer.
    void StopAnswering();
    // Gives the configuration up for the instance a restart starts.
    void Release();

private:
    void Serve();

    InstanceLock lock_;
    std::string configPath_;
    std::string socketPath_;
    QLocalServer* server_ = nullptr;
    std::function<void()> show_;
};

} // namespace qv

#pragma once

#include <QObject>
#include <QTimer>

namespace qv {

// A window timer with an Enabled switch: enabling a running timer does not restart it, and an
// interval of 0 never ticks. The program's timers are one-shot by convention: each tick handler
// first disables its own timer.
class UiTimer : public QObject {
    Q_OBJECT
public:
    UiTimer(const QString& name, int intervalMs, QObject* parent);

    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }
    void SetInterval(int intervalMs);
    int Interval() const { return interval_; }

signals:
    void Tick();

private:
    void Sync();

    QTimer timer_;
    bool enabled_ = false;
    int interval_;
};

} // namespace qv

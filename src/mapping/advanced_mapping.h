#pragma once

#include <QObject>
#include <QPointer>

namespace qv {

class TQuorvaneMapping;
class TQuorvaneMappingPlus;
class TRelayListener;

// The main window's view of the timed mapping (relay listener 7, IdMappedPortTCP7): its list
// entries and the advanced options window's count. The mapping service runs it and its clock.
class TAdvancedMapping : public QObject {
    Q_OBJECT
public:
    explicit TAdvancedMapping(TQuorvaneMapping& window);

    TRelayListener& Listener() const;

    // The advanced options window registers itself once it exists. The windows are destroyed
    // before the main window, so events applied afterwards find it gone and skip its count.
    void Attach(TQuorvaneMappingPlus* options);

    // Connection events of listener 7, on the user-interface thread.
    void IdMappedPortTCP7Connect();
    void IdMappedPortTCP7Disconnect();

private:
    void AddToCount(int delta);

    TQuorvaneMapping& window_;
    QPointer<TQuorvaneMappingPlus> options_;
};

} // namespace qv

#pragma once

#include <QPointer>

#include "core/relay/relay_listener.h"

namespace qv {

class TQuorvaneMapping;
class TQuorvaneMappingPlus;

// The main window's relay listener 7 (IdMappedPortTCP7) and its connection events. The advanced
// options window arms it; the main window's Timer1 opens it and Timer2 closes it.
class TAdvancedMapping {
public:
    explicit TAdvancedMapping(TQuorvaneMapping& window);
    TAdvancedMapping(const TAdvancedMapping&) = delete;
    TAdvancedMapping& operator=(const TAdvancedMapping&) = delete;

    TRelayListener& Listener() { return listener_; }

    // The advanced options window registers itself once it exists. The windows are destroyed
    // before the main window, so events applied afterwards find it gone and skip its count.
    void Attach(TQuorvaneMappingPlus* options);
    // Armed exactly while the advanced options window's "Disable" is enabled.
    bool Armed() const;

    // Starts listening; throws the listener's error text when it cannot.
    void Open();
    // Stops listening, applying the connection events of its closing links while it waits.
    void Close();

    // Connection events of listener 7, applied on the user-interface thread.
    void IdMappedPortTCP7Connect();
    void IdMappedPortTCP7Disconnect();

    static constexpr int kListener = 7;

private:
    void AddToCount(int delta);

    TQuorvaneMapping& window_;
    QPointer<TQuorvaneMappingPlus> options_;
    TRelayListener listener_;
};

} // namespace qv

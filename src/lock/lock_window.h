#pragma once

#include "lock/password_window.h"

namespace qv {

// Locks the user interface with a password: the main window goes into the tray and only
// "Unlock" stays usable in the tray's menu, while mappings, log and remote server run on.
class TQuorvaneMappingLock : public PasswordWindow {
    Q_OBJECT
public:
    explicit TQuorvaneMappingLock(TRoster& roster);

protected:
    // FormShow: no second lock can start while this one is open.
    void showEvent(QShowEvent* event) override;
    // FormClose: the fields are emptied and the lock items usable again.
    void closeEvent(QCloseEvent* event) override;
    void SetControlsEnabled(bool enabled) override;
    void Button1Click() override;

private:
    // Stores the scrambled password; true when the configuration file existed before.
    bool StorePassword();
    void SetLockItemsEnabled(bool enabled);
};

} // namespace qv

#pragma once

#include "lock/password_window.h"

namespace qv {

// Asks for the lock's password and brings the user interface back.
class TQuorvaneMappingUnlock : public PasswordWindow {
    Q_OBJECT
public:
    explicit TQuorvaneMappingUnlock(TRoster& roster);

protected:
    // FormClose: the field is emptied and the tray's "Unlock" usable again.
    void closeEvent(QCloseEvent* event) override;
    void Button1Click() override;
};

} // namespace qv

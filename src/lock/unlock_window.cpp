#include "lock/unlock_window.h"

#include <QCloseEvent>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "lock/lock_names.h"
#include "service/stored_text.h"
#include "shell/roster.h"

namespace qv {

TQuorvaneMappingUnlock::TQuorvaneMappingUnlock(TRoster& roster)
    : PasswordWindow(roster, {"TQuorvaneMappingUnlock", "Quorvane - Internet Port Mapping  - Unlock Password",
                              QSize(380, 200), false, "Unlock programs"}) {}

void TQuorvaneMappingUnlock::closeEvent(QCloseEvent* event) {
    edit1_->clear();
    roster_.SetUnlockItemEnabled(true);
    SecondaryWindow::closeEvent(event);
}

void TQuorvaneMappingUnlock::Button1Click() {
    if (edit1_->text().isEmpty())
        return Refuse(kEmptyPasswordMessage);
    // A missing key or file reads as the empty text, which no typed password matches.
    const std::string stored = ReadString(roster_.ConfigPath(), kMappingSection, kLockKey);
    if (Latin1Text(UnscrambleText(stored, kLQRVNLShiftKey)) != edit1_->text())
        return Refuse("Invalid Password.");
    if (!AskHoldingControls("Are you sure want unlock Quorvane - Internet Port Mapping?"))
        return;
    roster_.UnlockUserInterface();
    DeleteKey(roster_.ConfigPath(), kMappingSection, kLockKey);
    close();
    roster_.AfterUnlocking();
    SetControlsEnabled(true);
}

} // namespace qv

#include "lock/unlock_window.h"

#include <QCloseEvent>

#include "service/stored_text.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "lock/lock_names.h"
#include "shell/main_window.h"
#include "shell/roster.h"
#include "shell/tray_window.h"
#include "shell/visibility.h"

namespace qv {

TQuorvaneMappingUnlock::TQuorvaneMappingUnlock(TRoster& roster)
    : PasswordWindow(roster, {"TQuorvaneMappingUnlock", "Quorvane - Internet Port Mapping  - Unlock Password",
                              QSize(380, 200), false, "Unlock programs"}) {}

void TQuorvaneMappingUnlock::closeEvent(QCloseEvent* event) {
    edit1_->clear();
    roster_.Tray().Unlock1()->setEnabled(true);
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
    UnlockUserInterface();
    close();
    TQuorvaneTray& tray = roster_.Tray();
    tray.Unlock1()->setEnabled(false);
    tray.Unlock1()->setVisible(false);
    tray.PopupMenu1()->setDefaultAction(tray.Minimize());
    SetControlsEnabled(true);
    tray.Lock1()->setVisible(true);
}

void TQuorvaneMappingUnlock::UnlockUserInterface() {
    ShowingSequence(roster_);
    TQuorvaneTray& tray = roster_.Tray();
    for (QAction* item : {tray.Restart(), tray.Exit(), tray.About3()})
        item->setEnabled(true);
    roster_.Mapping().Button4()->setEnabled(true);
    roster_.Mapping().Button5()->setEnabled(false);
    DeleteKey(roster_.ConfigPath(), kMappingSection, kLockKey);
}

} // namespace qv

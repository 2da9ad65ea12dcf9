#include "lock/lock_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QShowEvent>

#include "service/stored_text.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/version_marker.h"
#include "lock/lock_names.h"
#include "shell/main_window.h"
#include "shell/roster.h"
#include "shell/tray_window.h"
#include "shell/visibility.h"

namespace qv {

namespace {
// Only the tray icon leads back to the unlock window: without it a lock could never end.
constexpr const char* kNoTrayIconNotice =
    "You can not lock without the tray icon: the unlock is done from the tray icon.\r\n"
    "Check \"Show tray icon.\" in the settings first.";
// With the box ticked but no notification area on the desktop, ticking it again cannot help.
constexpr const char* kNoNotificationAreaNotice =
    "You can not lock without the tray icon: the unlock is done from the tray icon.\r\n"
    "This desktop has no notification area to show it in.";
} // namespace

TQuorvaneMappingLock::TQuorvaneMappingLock(TRoster& roster)
    : PasswordWindow(roster, {"TQuorvaneMappingLock", "Quorvane - Internet Port Mapping  - Lock Password",
                              QSize(380, 220), true, "Lock programs with your password"}) {}

void TQuorvaneMappingLock::SetLockItemsEnabled(bool enabled) {
    TQuorvaneMapping& mapping = roster_.Mapping();
    mapping.Lock1()->setEnabled(enabled);
    mapping.Button4()->setEnabled(enabled);
    roster_.Tray().Lock1()->setEnabled(enabled);
}

void TQuorvaneMappingLock::showEvent(QShowEvent* event) {
    SecondaryWindow::showEvent(event);
    if (!event->spontaneous())
        SetLockItemsEnabled(false);
}

void TQuorvaneMappingLock::closeEvent(QCloseEvent* event) {
    edit1_->clear();
    edit2_->clear();
    SetLockItemsEnabled(true);
    SecondaryWindow::closeEvent(event);
}

void TQuorvaneMappingLock::SetControlsEnabled(bool enabled) {
    PasswordWindow::SetControlsEnabled(enabled);
    menu_.exit1->setEnabled(enabled);
}

void TQuorvaneMappingLock::Button1Click() {
    TQuorvaneTray& tray = roster_.Tray();
    if (!tray.IconShown())
        return Refuse(roster_.platform().TrayAvailable() ? kNoTrayIconNotice : kNoNotificationAreaNotice);
    if (edit1_->text().isEmpty())
        return Refuse(kEmptyPasswordMessage);
    if (edit2_->text().isEmpty())
        return Refuse("You must enter a confirm password.");
    if (edit1_->text() != edit2_->text())
        return Refuse("The password does not correspond to the confirmation.");
    if (!AskHoldingControls("Are you sure want lock Quorvane - Internet Port Mapping with your password?"))
        return;
    bool existed = false;
    try {
        existed = StorePassword();
    } catch (...) {
        // Nothing was stored and nothing is locked: the window stays usable for another try.
        SetControlsEnabled(true);
        throw;
    }
    LockUserInterface();
    close();
    SetControlsEnabled(true);
    tray.PopupMenu1()->setDefaultAction(tray.Unlock1());
    // A lock that created the file leaves "Lock" in the menu.
    if (existed)
        tray.Lock1()->setVisible(false);
}

bool TQuorvaneMappingLock::StorePassword() {
    const std::string path = roster_.ConfigPath();
    const bool existed = QFile::exists(QFile::decodeName(path.c_str()));
    ProfileBatch batch(path);
    batch.Write(kMappingSection, kLockKey, ScrambleText(Latin1Bytes(edit1_->text()), kLQRVNLShiftKey));
    if (!existed)
        WriteVersionMarker(batch);
    batch.Commit();
    return existed;
}

void TQuorvaneMappingLock::LockUserInterface() {
    HidingSequence(roster_);
    TQuorvaneTray& tray = roster_.Tray();
    for (QAction* item : {tray.Restart(), tray.Exit(), tray.About3(), tray.Minimize(), tray.Show()})
        item->setEnabled(false);
    tray.Unlock1()->setEnabled(true);
    tray.Unlock1()->setVisible(true);
    roster_.Mapping().Button4()->setEnabled(false);
    roster_.Mapping().Button5()->setEnabled(true);
}

} // namespace qv

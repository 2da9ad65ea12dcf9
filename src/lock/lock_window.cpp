#include "lock/lock_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QShowEvent>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/version_marker.h"
#include "lock/lock_names.h"
#include "platform/platform.h"
#include "service/stored_text.h"
#include "shell/roster.h"

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
    roster_.SetLockItemsEnabled(enabled);
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
    if (!roster_.TrayIconShown())
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
    roster_.LockUserInterface();
    close();
    SetControlsEnabled(true);
    // A lock that created the file leaves "Lock" in the menu.
    roster_.AfterLocking(!existed);
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

} // namespace qv

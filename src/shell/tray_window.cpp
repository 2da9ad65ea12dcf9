#include "shell/tray_window.h"

#include <QCloseEvent>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"
#include "info/about_window.h"
#include "lock/lock_window.h"
#include "lock/unlock_window.h"
#include "platform/app_title.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "platform/platform.h"
#include "shell/exit_flow.h"
#include "shell/image_list.h"
#include "shell/main_window.h"
#include "shell/roster.h"
#include "shell/visibility.h"

namespace qv {

namespace {
// The first user message number plus 100.
constexpr int kIconMessage = 1024 + 100;

QAction* AddItem(QMenu* menu, const char* name, const char* caption, int image, const char* hint) {
    QAction* action = menu->addAction(QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    if (image >= 0)
        action->setIcon(ImageListIcon(image));
    if (hint)
        SetHint(action, hint);
    return action;
}
} // namespace

TQuorvaneTray::TQuorvaneTray(TRoster& roster)
    : QWidget(nullptr, Qt::Window | Qt::WindowSystemMenuHint), roster_(roster), platform_(roster.platform()) {
    setObjectName(QStringLiteral("TQuorvaneTray"));
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setWindowIcon(ProgramIcon());
    resize(309, 160);
    BuildMenu();
    for (int i = 0; i < 3; ++i)
        timers_[i] = new UiTimer(QStringLiteral("Timer%1").arg(i + 1), 1, this);
    OnSignal(timers_[0], &UiTimer::Tick, this, platform_, [this] { Timer1Timer(); });
    OnSignal(timers_[1], &UiTimer::Tick, this, platform_, [this] { Timer2Timer(); });
    OnSignal(timers_[2], &UiTimer::Tick, this, platform_, [this] { Timer3Timer(); });
    iconRecord_.window = this;
    iconRecord_.id = 1;
    iconRecord_.flags =
        TrayIconRecord::kMessageValid | TrayIconRecord::kIconValid | TrayIconRecord::kTipValid;
    iconRecord_.callbackMessage = kIconMessage;
    iconRecord_.icon = ProgramIcon();
    iconRecord_.tip = QString::fromLatin1(kAppTitle);
    iconRecord_.callback = [this](int message, TrayMouse mouse) {
        Guarded(platform_, [this, message, mouse] { IconMessage(message, mouse); });
    };
    roster.RunCreation([this] { FormCreate(); });
}

TQuorvaneTray::~TQuorvaneTray() {
    DeleteIcon();
}

void TQuorvaneTray::BuildMenu() {
    popupMenu1_ = new QMenu(this);
    popupMenu1_->setObjectName(QStringLiteral("PopupMenu1"));
    about3_ = AddItem(popupMenu1_, "About3", "About", 17, "About|About");
    lock1_ = AddItem(popupMenu1_, "Lock1", "Lock", 21, nullptr);
    popupMenu1_->addSeparator()->setObjectName(QStringLiteral("N1"));
    show_ = AddItem(popupMenu1_, "Show", "Show", -1, "Show|Show Application");
    show_->setEnabled(false);
    minimize_ = AddItem(popupMenu1_, "Minimize", "Minimize", -1, "Minimize|Minimize to system tray");
    popupMenu1_->setDefaultAction(minimize_);
    restart_ = AddItem(popupMenu1_, "Restart", "Restart", -1, "Restart|Restart Application");
    exit_ = AddItem(popupMenu1_, "Exit", "Exit", 16, "Exit|Exit Application");
    popupMenu1_->addSeparator()->setObjectName(QStringLiteral("N2"));
    unlock1_ = AddItem(popupMenu1_, "Unlock1", "Unlock", 20, nullptr);
    // Added last, so the menu's own items keep their places.
    connections3_ = AddItem(popupMenu1_, "Connections3", "Connections", -1,
                            "Connections|Every connection of the mappings, live and ended");
    unlock1_->setEnabled(false);
    unlock1_->setVisible(false);

    OnSignal(about3_, &QAction::triggered, this, platform_, [this] { About3Click(); });
    OnSignal(lock1_, &QAction::triggered, this, platform_, [this] { platform_.ShowModal(&roster_.Lock()); });
    OnSignal(show_, &QAction::triggered, this, platform_, [this] { Show1Click(); });
    OnSignal(minimize_, &QAction::triggered, this, platform_, [this] { MinimizeClick(); });
    OnSignal(restart_, &QAction::triggered, this, platform_,
             [this] { RunExitFlow(roster_, EndKind::Restart); });
    OnSignal(exit_, &QAction::triggered, this, platform_, [this] { RunExitFlow(roster_, EndKind::Exit); });
    OnSignal(unlock1_, &QAction::triggered, this, platform_, [this] { Unlock1Click(); });
    OnSignal(connections3_, &QAction::triggered, this, platform_, [this] { ShowConnectionsWindow(roster_); });
}

void TQuorvaneTray::FormCreate() {
    // Without an icon the main window, created next, must not offer "Minimize". A desktop
    // without a notification area counts as the icon switched off; the setting stays as stored.
    if (IsSwitchOn(roster_.ConfigPath(), "TrayIcon", "Disabled", kTrayIconShiftKey) ||
        !platform_.TrayAvailable()) {
        timers_[2]->SetEnabled(true);
        return;
    }
    AddIcon();
}

void TQuorvaneTray::AddIcon() {
    platform_.AddTrayIcon(iconRecord_);
    iconShown_ = platform_.TrayAvailable();
}

void TQuorvaneTray::DeleteIcon() {
    platform_.DeleteTrayIcon(iconRecord_);
    iconShown_ = false;
}

// The settings switched the icon on.
void TQuorvaneTray::Timer1Timer() {
    timers_[0]->SetEnabled(false);
    AddIcon();
    if (iconShown_)
        roster_.Mapping().Minimize2()->setEnabled(true);
    SetSwitch(roster_.ConfigPath(), "TrayIcon", "Disabled", kTrayIconShiftKey, false);
}

// The settings switched the icon off.
void TQuorvaneTray::Timer2Timer() {
    timers_[1]->SetEnabled(false);
    DeleteIcon();
    roster_.Mapping().Minimize2()->setEnabled(false);
    SetSwitch(roster_.ConfigPath(), "TrayIcon", "Disabled", kTrayIconShiftKey, true);
}

void TQuorvaneTray::Timer3Timer() {
    timers_[2]->SetEnabled(false);
    roster_.Mapping().Minimize2()->setEnabled(false);
}

void TQuorvaneTray::IconMessage(int message, TrayMouse mouse) {
    if (message != kIconMessage)
        return;
    if (mouse == TrayMouse::RightButtonDown) {
        platform_.PopupTrayMenu(popupMenu1_);
    } else if (mouse == TrayMouse::LeftButtonDown) {
        if (unlock1_->isVisible()) {
            // Locked: only the password brings the window back.
            QWidget& unlock = roster_.Unlock();
            unlock.show();
            unlock.activateWindow();
            unlock1_->setEnabled(false);
        } else {
            Show1Click();
        }
    }
}

void TQuorvaneTray::Show1Click() {
    ShowingSequence(roster_);
    popupMenu1_->setDefaultAction(minimize_);
}

void TQuorvaneTray::MinimizeClick() {
    HidingSequence(roster_);
}

void TQuorvaneTray::About3Click() {
    about3_->setEnabled(false);
    ShowingSequence(roster_);
    platform_.ShowModal(&roster_.About());
}

void TQuorvaneTray::Unlock1Click() {
    roster_.Unlock().show();
    platform_.SetTaskbarVisible(true);
    unlock1_->setEnabled(false);
}

void TQuorvaneTray::closeEvent(QCloseEvent* event) {
    // The icon goes at once; the program ends once control is back in the message loop, and the
    // windows are destroyed then.
    DeleteIcon();
    roster_.SetEnding();
    platform_.EndApplication();
    event->accept();
}

} // namespace qv

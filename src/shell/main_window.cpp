#include "shell/main_window.h"

#include <QCloseEvent>
#include <QStatusTipEvent>

#include "config/config_messages.h"
#include "config/configuration_commands.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"
#include "core/profile/version_marker.h"
#include "info/about_window.h"
#include "log/connection_log.h"
#include "mapping/mapping_slot.h"
#include "platform/app_title.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "prefs/language_captions.h"
#include "prefs/language_plugin.h"
#include "prefs/settings_window.h"
#include "remote/remote_server.h"
#include "service/connection_event_queue.h"
#include "service/mapping_rules.h"
#include "service/mapping_service.h"
#include "service/rules_book.h"
#include "service/stored_text.h"
#include "service/switched_on.h"
#include "shell/exit_flow.h"
#include "shell/file_controls.h"
#include "shell/image_list.h"
#include "shell/roster.h"
#include "shell/secondary_window.h"
#include "shell/tray_window.h"
#include "shell/visibility.h"

namespace qv {

TQuorvaneMapping::TQuorvaneMapping(TRoster& roster)
    : QMainWindow(nullptr), roster_(roster), platform_(roster.platform()) {
    setObjectName(QStringLiteral("TQuorvaneMapping"));
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setWindowIcon(ProgramIcon());
    resize(917, 478);
    service_ = new TMappingService(roster.LogPath(), this);
    roster.AttachService(service_);
    rulesBook_ = new TRulesBook(*service_, this);
    roster.AttachRulesBook(rulesBook_);
    // In force before anything starts, the mappings switched back on at start included.
    for (const QString& fault : rulesBook_->Replace(ReadMappingRules(roster.ConfigPath())))
        roster.AfterStart([this, fault] { platform_.Notice(fault); });
    connect(service_, &TMappingService::Failed, this,
            [this](const QString& text) { ReportError(platform_, text); });
    commands_ = std::make_unique<TConfigurationCommands>(roster);
    BuildControls();
    BuildMenu();
    BuildStatusBar();
    roster.FileControls().Register(TFileControls::kMain, {loadIni_, saveIni_, loadIni2_, saveIni2_});
    roster.FileControls().RegisterFileItems(fileItems_);
    KeepLayoutWhereTheScreenHoldsIt();
    BuildTimers();
    remoteServer_ = new TRemoteServer(roster, this, buffer1_, Timer(4));
    roster.RunCreation([this] { FormCreate(); });
}

TQuorvaneMapping::~TQuorvaneMapping() {
    EndOfProgram();
    // The service goes first: its listeners wait for their last links, whose events still reach the
    // slots and the list.
    delete service_;
    service_ = nullptr;
    roster_.AttachService(nullptr);
    roster_.AttachRulesBook(nullptr);
    for (TMappingSlot*& slot : slots_) {
        delete slot;
        slot = nullptr;
    }
}

TConnectionEventQueue& TQuorvaneMapping::Events() const {
    return service_->Events();
}

void TQuorvaneMapping::EndOfProgram() {
    Guarded(platform_, [this] { FormDestroy(); });
}

void TQuorvaneMapping::DisableFileControls() {
    roster_.FileControls().MatchFile(TFileControls::kMain);
    log_->ELogs()->setEnabled(false);
}

void TQuorvaneMapping::FormCreate() {
    const std::string path = roster_.ConfigPath();
    if (ProfileFileTooLarge(path)) {
        DisableFileControls();
        showMaximized();
        // Boxes wait until every window exists.
        roster_.AfterStart([this, path] { NoticeIfTooLarge(platform_, path); });
        return;
    }
    const ConfigFileState state = StateOfConfigFile(path);
    if (state == ConfigFileState::Missing) {
        // First run: the file holds the version marker alone; no notice.
        DisableFileControls();
        showMaximized();
        WriteVersionMarker(path);
        return;
    }
    if (state == ConfigFileState::Old) {
        DisableFileControls();
        showMaximized();
        roster_.AfterStart([this] {
            platform_.Beep();
            platform_.Notice(QString::fromLatin1(kOldFileNotice));
        });
        return;
    }
    if (IsSwitchOn(path, "CLLogsSave", "Save", kCLLogsSaveShiftKey))
        log_->CheckBox1()->setChecked(true);
    Timer(7)->SetEnabled(true);
    Timer(8)->SetEnabled(true);
    for (const char* field : TMappingSlot::kFieldOrder)
        for (TMappingSlot* slot : slots_)
            slot->Field(field)->setText(
                ReadStoredText(path, kMappingSection, TMappingSlot::ControlName(field, slot->Number())));
    if (RestoreMappingsAtStart(path))
        roster_.AfterStart([this] { RestoreMappings(); });
    // Loading is not an unsaved change.
    DisableFileControls();
    setWindowState(Qt::WindowMaximized);
    // Only a window with a tray icon can start in the tray: without one it could never come back.
    if (IsSwitchOn(path, "WindowsState", "Minimized", kWindowsStateShiftKey) && roster_.Tray().IconShown())
        Timer(6)->SetEnabled(true);
    else
        show();
}

void TQuorvaneMapping::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    // Every listener stops, all under one wait, while the list and the counts it reports to still exist.
    std::array<bool, 6> switchedOn{};
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot)
        switchedOn[slot - 1] = service_->Running(slot);
    service_->StopAll();
    remoteServer_->Stop();
    if (log_->CheckBox1()->isChecked())
        log_->AppendLogLine(" Quorvane - Internet Port Mapping is closing.");
    log_->PersistSaveSwitch(roster_.ConfigPath());
    // Last, so that a file that cannot take it has lost nothing else.
    StoreSwitchedOn(roster_.ConfigPath(), switchedOn);
}

// As if "Enable" had been clicked on each slot that was on at the last end, each with its own notices.
void TQuorvaneMapping::RestoreMappings() {
    for (TMappingSlot* slot : slots_)
        if (WasSwitchedOn(roster_.ConfigPath(), slot->Number()))
            Guarded(platform_, [slot] { slot->MappingEnableClick(); });
}

void TQuorvaneMapping::AddToTotal(int delta) {
    qv::AddToCount(panels_[1], delta);
}

void TQuorvaneMapping::ClearSlotsForReplacement() {
    TMappingSlot::SwitchOffTogether(slots_, false);
    UpdateDisabledAll();
    // Each clearing runs the field's change handling, as typing would.
    for (const char* base : {"IncommingPort", "OutcommingPort", "OutcommingIp"})
        for (TMappingSlot* slot : slots_)
            slot->Field(base)->clear();
    for (TMappingSlot* slot : slots_)
        slot->MappingEnable()->setEnabled(false);
}

void TQuorvaneMapping::UpdateDisabledAll() {
    bool anyOn = false;
    for (const TMappingSlot* slot : slots_)
        anyOn = anyOn || slot->IsOn();
    button1_->setEnabled(anyOn);
}

void TQuorvaneMapping::Button1Click() {
    if (!platform_.Question(QStringLiteral("Are you sure want to disable all port?")))
        return;
    std::vector<TMappingSlot*> on;
    for (TMappingSlot* slot : slots_)
        if (slot->IsOn())
            on.push_back(slot);
    TMappingSlot::SwitchOffTogether(on, true);
    button1_->setEnabled(false);
}

void TQuorvaneMapping::closeEvent(QCloseEvent* event) {
    // Nothing is hidden unless the handler gets to its end.
    event->ignore();
    Guarded(platform_, [this, event] { FormClose(event); });
}

void TQuorvaneMapping::FormClose(QCloseEvent* event) {
    if (roster_.Ending()) {
        event->accept();
        return;
    }
    TQuorvaneTray& tray = roster_.Tray();
    if (!roster_.Settings().CheckBox4()->isChecked() || !platform_.TrayAvailable()) {
        // Without a tray icon, or a notification area to hold one, closing means exiting; the
        // window itself stays as it was.
        RunExitFlow(roster_, EndKind::Exit);
        return;
    }
    tray.Minimize()->setEnabled(false);
    tray.Show()->setEnabled(true);
    tray.PopupMenu1()->setDefaultAction(tray.Show());
    log_->PersistSaveSwitch(roster_.ConfigPath());
    event->accept();
}

bool TQuorvaneMapping::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // The long hint goes to panel 0; the other panels keep their texts.
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        panels_[0]->setText(tip.isEmpty() ? QStringLiteral("No information") : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void TQuorvaneMapping::ShowModal(QWidget* window) {
    platform_.ShowModal(window);
}

void TQuorvaneMapping::Exit1Click() {
    RunExitFlow(roster_, EndKind::Exit);
}
void TQuorvaneMapping::Restart1Click() {
    RunExitFlow(roster_, EndKind::Restart);
}
void TQuorvaneMapping::Minimize2Click() {
    HidingSequence(roster_);
}

void TQuorvaneMapping::About2Click() {
    ShowAboutWindow(roster_);
}

void TQuorvaneMapping::Checkfor1Click() {
    OpenVendorPage(platform_);
}

void TQuorvaneMapping::Language1Click() {
    RunLanguagePlugin(roster_, language1_);
}

void TQuorvaneMapping::Timer3Timer() {
    commands_->Timer3Tick();
}

void TQuorvaneMapping::Timer4Timer() {
    remoteServer_->Timer4Timer();
}

void TQuorvaneMapping::Timer5Timer() {
    ShowModal(&roster_.Settings());
}

// Start in the tray: the window never appears; the tray offers "Show".
void TQuorvaneMapping::Timer6Timer() {
    TQuorvaneTray& tray = roster_.Tray();
    setWindowState(Qt::WindowMaximized);
    tray.Minimize()->setEnabled(false);
    minimize2_->setEnabled(false);
    platform_.SetTaskbarVisible(false);
    setWindowState(Qt::WindowMinimized);
    tray.Show()->setEnabled(true);
    tray.PopupMenu1()->setDefaultAction(tray.Show());
}

void TQuorvaneMapping::Timer7Timer() {
    if (log_->CheckBox1()->isChecked())
        log_->AppendLogLine(" Quorvane - Internet Port Mapping is starting.");
}

// Once per start, after every window exists.
void TQuorvaneMapping::Timer8Timer() {
    ApplyLanguageCaptions(roster_);
}

} // namespace qv

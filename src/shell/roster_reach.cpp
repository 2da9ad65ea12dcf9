// The narrow reach of the roster: what the other windows may do to the main window and the tray,
// written once here so that they need no window's header.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "connections/connections_window.h"
#include "core/relay/relay_listener.h"
#include "info/about_window.h"
#include "info/changes_news_window.h"
#include "info/update_window.h"
#include "lock/lock_window.h"
#include "lock/unlock_window.h"
#include "log/connection_log.h"
#include "mapping/advanced_window.h"
#include "mapping/mapping_slot.h"
#include "prefs/settings_window.h"
#include "remote/remote_window.h"
#include "rules/rules_window.h"
#include "service/mapping_service.h"
#include "shell/main_window.h"
#include "shell/roster.h"
#include "shell/tray_window.h"
#include "shell/visibility.h"

namespace qv {

QWidget& TRoster::Window(WindowId id) const {
    switch (id) {
    case WindowId::Tray:
        return *tray_;
    case WindowId::Main:
        break;
    case WindowId::About:
        return *about_;
    case WindowId::Remote:
        return *remote_;
    case WindowId::Advanced:
        return *mappingPlus_;
    case WindowId::Update:
        return *update_;
    case WindowId::Unlock:
        return *unlock_;
    case WindowId::Lock:
        return *lock_;
    case WindowId::ChangesNews:
        return *changesNews_;
    case WindowId::Settings:
        return *settings_;
    case WindowId::Connections:
        return *connections_;
    case WindowId::MappingRules:
        return *mappingRules_;
    }
    return *mapping_;
}

void TRoster::ShowMappingRules(int slot) const {
    mappingRules_->ShowMapping(slot);
}

QString TRoster::MappingCaption(int slot) const {
    const TMappingSlot& grid = mapping_->Slot(slot);
    QString port = grid.IncommingPort()->text();
    QString host = grid.OutcommingIp()->text();
    QString destination = grid.OutcommingPort()->text();
    if (Service().Running(slot)) {
        const MappingTarget target = Service().Target(slot);
        port = QString::number(Service().Listener(slot).ListeningPort());
        host = QString::fromStdString(target.host);
        destination = QString::number(target.destinationPort);
    }
    const QString name = QStringLiteral("Mapping #%1").arg(slot);
    if (port.isEmpty() && host.isEmpty() && destination.isEmpty())
        return name;
    return QStringLiteral("%1 (%2 → %3:%4)").arg(name, port, host, destination);
}

void TRoster::AddLogEntry(const QString& text) const {
    mapping_->Log().AddLogEntry(text);
}

void TRoster::RemoveLogEntry(const QString& text) const {
    mapping_->Log().RemoveLogEntry(text);
}

void TRoster::AppendLogLine(std::string_view fileText, LogLineForm form) const {
    Service().WriteLogLine(fileText, form);
}

QCheckBox* TRoster::LogSaveSwitch() const {
    return mapping_->Log().CheckBox1();
}

QString TRoster::VersionText() const {
    return mapping_->Version()->text();
}

UiTimer* TRoster::MainTimer(int number) const {
    return mapping_->Timer(number);
}

TRemoteServer& TRoster::RemoteServer() const {
    return mapping_->RemoteServer();
}

void TRoster::ClearMappingsForReplacement() const {
    mapping_->ClearSlotsForReplacement();
}

bool TRoster::TrayIconShown() const {
    return tray_->IconShown();
}

void TRoster::ShowTrayIcon(bool shown) const {
    tray_->Timer(shown ? 1 : 2)->SetEnabled(true);
}

void TRoster::SetLockItemsEnabled(bool enabled) const {
    mapping_->Lock1()->setEnabled(enabled);
    mapping_->Button4()->setEnabled(enabled);
    tray_->Lock1()->setEnabled(enabled);
}

void TRoster::LockUserInterface() {
    HidingSequence(*this);
    // What the connections and rules windows show and do is locked away with the rest.
    connections_->hide();
    mappingRules_->hide();
    for (QAction* item : {tray_->Restart(), tray_->Exit(), tray_->About3(), tray_->Minimize(), tray_->Show(),
                          tray_->Connections3()})
        item->setEnabled(false);
    tray_->Unlock1()->setEnabled(true);
    tray_->Unlock1()->setVisible(true);
    mapping_->Button4()->setEnabled(false);
    mapping_->Button5()->setEnabled(true);
}

void TRoster::AfterLocking(bool lockItemStays) const {
    tray_->PopupMenu1()->setDefaultAction(tray_->Unlock1());
    if (!lockItemStays)
        tray_->Lock1()->setVisible(false);
}

void TRoster::UnlockUserInterface() {
    ShowingSequence(*this);
    for (QAction* item : {tray_->Restart(), tray_->Exit(), tray_->About3(), tray_->Connections3()})
        item->setEnabled(true);
    mapping_->Button4()->setEnabled(true);
    mapping_->Button5()->setEnabled(false);
}

void TRoster::AfterUnlocking() const {
    tray_->Unlock1()->setEnabled(false);
    tray_->Unlock1()->setVisible(false);
    tray_->PopupMenu1()->setDefaultAction(tray_->Minimize());
    tray_->Lock1()->setVisible(true);
}

void TRoster::SetUnlockItemEnabled(bool enabled) const {
    tray_->Unlock1()->setEnabled(enabled);
}

void TRoster::OfferTrayAbout() const {
    if (!tray_->Unlock1()->isVisible())
        tray_->About3()->setEnabled(true);
}

} // namespace qv

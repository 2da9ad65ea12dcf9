// Switching a mapping slot on and off, and the connection events of its listener.
#include "log/connection_log.h"
#include "mapping/mapping_slot.h"
#include "platform/controls.h"
#include "platform/platform.h"
#include "service/mapping_service.h"
#include "service/stored_mappings.h"
#include "shell/main_window.h"

#include <vector>

namespace qv {

QString TMappingSlot::EnabledEntry() const {
    return TMappingService::EnabledEntry(number_, PortText());
}

QString TMappingSlot::DisabledEntry() const {
    return TMappingService::DisabledEntry(number_, PortText());
}

void TMappingSlot::SetFieldsEnabled(bool enabled) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{incommingPort_, outcommingPort_, outcommingIp_, mappingEnable_})
        control->setEnabled(enabled);
}

void TMappingSlot::MappingEnableClick() {
    MappingTarget target;
    const QString refused = CheckMapping(
        number_, {outcommingIp_->text(), outcommingPort_->text(), incommingPort_->text()}, target);
    if (!refused.isEmpty())
        return window_.platform().Notice(refused);
    ncMapping_->setText(QStringLiteral("0"));
    SetFieldsEnabled(false);
    try {
        Service().Start(number_, target);
    } catch (...) {
        // A slot that cannot listen goes back to Off, so the user can change the port and retry.
        SetFieldsEnabled(true);
        throw;
    }
    mappingDisable_->setEnabled(true);
    TConnectionLog& log = window_.Log();
    log.AddLogEntry(EnabledEntry());
    log.RemoveLogEntry(DisabledEntry());
    log.ClearLogs()->setEnabled(true);
    ncMapping_->show();
    window_.UpdateDisabledAll();
    log.AppendLogLine(EventText(EnabledEntry()));
}

void TMappingSlot::MappingDisableClick() {
    SwitchOff(true);
    window_.UpdateDisabledAll();
    window_.Log().AppendLogLine(EventText(DisabledEntry()));
}

void TMappingSlot::SwitchOff(bool enableButton) {
    TMappingSlot* self = this;
    SwitchOffTogether({&self, 1}, enableButton);
}

void TMappingSlot::SwitchOffTogether(std::span<TMappingSlot* const> group, bool enableButton) {
    if (group.empty())
        return;
    // Every slot lists its switch-off in order, then all listeners stop under one wait.
    std::vector<int> numbers;
    for (TMappingSlot* slot : group) {
        TConnectionLog& log = slot->window_.Log();
        log.RemoveLogEntry(slot->EnabledEntry());
        log.AddLogEntry(slot->DisabledEntry());
        slot->mappingDisable_->setEnabled(false);
        numbers.push_back(slot->number_);
    }
    group.front()->Service().Stop(numbers);
    for (TMappingSlot* slot : group) {
        for (QLineEdit* field : {slot->incommingPort_, slot->outcommingPort_, slot->outcommingIp_})
            field->setEnabled(true);
        if (enableButton)
            slot->mappingEnable_->setEnabled(true);
        slot->window_.Log().ClearLogs()->setEnabled(true);
        slot->ncMapping_->hide();
        slot->ncMapping_->setText(QStringLiteral("0"));
    }
}

void TMappingSlot::IdMappedPortTCPConnect() {
    AddToCount(ncMapping_, 1);
    window_.AddToTotal(1);
    window_.Log().AddLogEntry(TMappingService::ConnectEntry(number_));
}

void TMappingSlot::IdMappedPortTCPDisconnect() {
    AddToCount(ncMapping_, -1);
    window_.AddToTotal(-1);
    TConnectionLog& log = window_.Log();
    log.RemoveLogEntry(TMappingService::ConnectEntry(number_));
    log.AddLogEntry(TMappingService::DisconnectEntry(number_));
}

} // namespace qv

// Switching a mapping slot on and off, and the connection events of its listener.
#include "mapping/mapping_slot.h"
#include "platform/controls.h"
#include "platform/platform.h"
#include "service/listen_failure.h"
#include "service/listen_port.h"
#include "service/mapping_service.h"
#include "service/stored_mappings.h"
#include "shell/roster.h"

#include <vector>

namespace qv {

QString TMappingSlot::EnabledEntry() const {
    return TMappingService::EnabledEntry(number_, ListenPortText(Service(), number_, PortText()));
}

QString TMappingSlot::DisabledEntry() const {
    return TMappingService::DisabledEntry(number_, ListenPortText(Service(), number_, PortText()));
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
        return roster_.platform().Notice(refused);
    ncMapping_->setText(QStringLiteral("0"));
    SetFieldsEnabled(false);
    try {
        Service().Start(number_, target);
    } catch (const ListenError& error) {
        // A slot that cannot listen goes back to Off, so the user can change the port and retry; the
        // box says what to do about it behind its details.
        SetFieldsEnabled(true);
        if (error.Detail().isEmpty())
            throw;
        Platform& platform = roster_.platform();
        return platform.ErrorWithDetail(platform.AppTitle(), QString::fromLatin1(error.what()),
                                        error.Detail());
    } catch (...) {
        SetFieldsEnabled(true);
        throw;
    }
    mappingDisable_->setEnabled(true);
    roster_.AddLogEntry(EnabledEntry());
    roster_.RemoveLogEntry(DisabledEntry());
    ncMapping_->show();
    emit Switched();
    roster_.AppendLogLine(EventText(EnabledEntry()));
}

void TMappingSlot::MappingDisableClick() {
    SwitchOff(true);
    emit Switched();
    roster_.AppendLogLine(EventText(DisabledEntry()));
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
        slot->roster_.RemoveLogEntry(slot->EnabledEntry());
        slot->roster_.AddLogEntry(slot->DisabledEntry());
        slot->mappingDisable_->setEnabled(false);
        numbers.push_back(slot->number_);
    }
    group.front()->Service().Stop(numbers);
    for (TMappingSlot* slot : group) {
        for (QLineEdit* field : {slot->incommingPort_, slot->outcommingPort_, slot->outcommingIp_})
            field->setEnabled(true);
        if (enableButton)
            slot->mappingEnable_->setEnabled(true);
        slot->ncMapping_->hide();
        slot->ncMapping_->setText(QStringLiteral("0"));
    }
}

void TMappingSlot::IdMappedPortTCPConnect() {
    AddToCount(ncMapping_, 1);
    emit CountChanged(1);
    roster_.AddLogEntry(TMappingService::ConnectEntry(number_));
}

void TMappingSlot::IdMappedPortTCPDisconnect() {
    AddToCount(ncMapping_, -1);
    emit CountChanged(-1);
    roster_.RemoveLogEntry(TMappingService::ConnectEntry(number_));
    roster_.AddLogEntry(TMappingService::DisconnectEntry(number_));
}

} // namespace qv

#include "mapping/advanced_mapping.h"

#include "log/connection_log.h"
#include "mapping/advanced_window.h"
#include "platform/controls.h"
#include "service/mapping_service.h"
#include "shell/main_window.h"

namespace qv {

namespace {
constexpr int kTimed = TMappingService::kTimedSlot;
} // namespace

TAdvancedMapping::TAdvancedMapping(TQuorvaneMapping& window) : window_(window) {
    TMappingService& service = window.Service();
    connect(&service, &TMappingService::Connected, this, [this](int slot) {
        if (slot == kTimed)
            IdMappedPortTCP7Connect();
    });
    connect(&service, &TMappingService::Disconnected, this, [this](int slot) {
        if (slot == kTimed)
            IdMappedPortTCP7Disconnect();
    });
}

TRelayListener& TAdvancedMapping::Listener() const {
    return window_.Service().Listener(kTimed);
}

void TAdvancedMapping::Attach(TQuorvaneMappingPlus* options) {
    options_ = options;
}

void TAdvancedMapping::AddToCount(int delta) {
    if (!options_)
        return;
    qv::AddToCount(options_->NCMappingTimer(), delta);
}

// Counted in the advanced window only: the status bar's total is the six slots'.
void TAdvancedMapping::IdMappedPortTCP7Connect() {
    AddToCount(1);
    window_.Log().AddLogEntry(TMappingService::ConnectEntry(kTimed));
}

void TAdvancedMapping::IdMappedPortTCP7Disconnect() {
    AddToCount(-1);
    TConnectionLog& log = window_.Log();
    log.RemoveLogEntry(TMappingService::ConnectEntry(kTimed));
    log.AddLogEntry(TMappingService::DisconnectEntry(kTimed));
}

} // namespace qv

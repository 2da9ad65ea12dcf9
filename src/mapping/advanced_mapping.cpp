#include "mapping/advanced_mapping.h"

#include "log/connection_log.h"
#include "mapping/advanced_window.h"
#include "mapping/connection_event_queue.h"
#include "platform/controls.h"
#include "shell/main_window.h"

namespace qv {

namespace {
constexpr int kStopWaitMs = 5000;
// Whatever slot is involved, the advanced mapping names mapping #1.
const char* const kConnectEntry = "Advanced Connection on Mapping #1";
const char* const kDisconnectEntry = "Advanced Disconnected on Mapping #1";
} // namespace

TAdvancedMapping::TAdvancedMapping(TQuorvaneMapping& window) : window_(window) {
    AttachListener(listener_, kListener, kStopWaitMs, window.Events());
}

void TAdvancedMapping::Attach(TQuorvaneMappingPlus* options) {
    options_ = options;
}

bool TAdvancedMapping::Armed() const {
    return options_ && options_->TimerDisable()->isEnabled();
}

void TAdvancedMapping::Open() {
    listener_.SetActive(true);
}

void TAdvancedMapping::Close() {
    TRelayListener* listener = &listener_;
    StopListeners({&listener, 1}, window_.Events());
}

void TAdvancedMapping::AddToCount(int delta) {
    if (!options_)
        return;
    qv::AddToCount(options_->NCMappingTimer(), delta);
}

// Counted in the advanced window only: the status bar's total is the six slots'.
void TAdvancedMapping::IdMappedPortTCP7Connect() {
    AddToCount(1);
    window_.Log().AddLogEntry(QString::fromLatin1(kConnectEntry));
    window_.AppendRelayLine(EventText(QString::fromLatin1(kConnectEntry)), LogLineForm::Full);
}

void TAdvancedMapping::IdMappedPortTCP7Disconnect() {
    AddToCount(-1);
    TConnectionLog& log = window_.Log();
    log.RemoveLogEntry(QString::fromLatin1(kConnectEntry));
    log.AddLogEntry(QString::fromLatin1(kDisconnectEntry));
    window_.AppendRelayLine(EventText(QString::fromLatin1(kDisconnectEntry)), LogLineForm::Full);
}

} // namespace qv

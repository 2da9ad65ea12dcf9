#include "remote/error_box_gate.h"

#include <QScopeGuard>
#include <utility>

#include "platform/error_report.h"

namespace qv {

void ErrorBoxGate::Report(const QString& text) {
    if (open_) {
        ++heldBack_;
        return;
    }
    open_ = true;
    {
        const auto closed = qScopeGuard([this] { open_ = false; });
        ReportError(platform_, text);
    }
    const int count = std::exchange(heldBack_, 0);
    if (count > 0 && heldBackHook_)
        heldBackHook_(count);
}

} // namespace qv

#include "platform/error_report.h"

namespace qv {

void ReportError(Platform& platform, const QString& text) {
    platform.Error(platform.AppTitle(), text);
}

} // namespace qv

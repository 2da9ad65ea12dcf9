#include "info/update_window.h"

namespace qv {

TQuorvaneUpdate::TQuorvaneUpdate(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneUpdate", "Quorvane - Internet Port Mapping - Update",
                      QSize(420, 240)) {}

} // namespace qv

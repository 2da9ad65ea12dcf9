#include "lock/unlock_window.h"

namespace qv {

TQuorvaneMappingUnlock::TQuorvaneMappingUnlock(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneMappingUnlock", "Quorvane - Internet Port Mapping  - Unlock Password", QSize(380, 200)) {}

} // namespace qv

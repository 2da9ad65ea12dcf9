#include "lock/lock_window.h"

namespace qv {

TQuorvaneMappingLock::TQuorvaneMappingLock(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneMappingLock", "Quorvane - Internet Port Mapping  - Lock Password", QSize(380, 220)) {}

} // namespace qv

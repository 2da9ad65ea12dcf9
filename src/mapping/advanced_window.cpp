#include "mapping/advanced_window.h"

namespace qv {

TQuorvaneMappingPlus::TQuorvaneMappingPlus(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneMappingPlus", "Quorvane - Internet Port Mapping - Advanced Options", QSize(696, 480)) {}

} // namespace qv

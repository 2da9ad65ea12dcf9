#include "remote/remote_window.h"

namespace qv {

TQuorvaneRemote::TQuorvaneRemote(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneRemote", "Quorvane - Internet Port Mapping - Remote Settings & Remote Connections", QSize(640, 440)) {}

} // namespace qv

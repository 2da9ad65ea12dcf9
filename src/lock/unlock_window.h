#pragma once

#include "shell/secondary_window.h"

namespace qv {

class TQuorvaneMappingUnlock : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneMappingUnlock(TRoster& roster);
};

} // namespace qv

#pragma once

#include "shell/secondary_window.h"

namespace qv {

class TQuorvaneMappingLock : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneMappingLock(TRoster& roster);
};

} // namespace qv

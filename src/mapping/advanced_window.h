#pragma once

#include "shell/secondary_window.h"

namespace qv {

class TQuorvaneMappingPlus : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneMappingPlus(TRoster& roster);
};

} // namespace qv

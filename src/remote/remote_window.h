#pragma once

#include "shell/secondary_window.h"

namespace qv {

class TQuorvaneRemote : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneRemote(TRoster& roster);
};

} // namespace qv

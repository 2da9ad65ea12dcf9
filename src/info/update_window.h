#pragma once

#include "shell/secondary_window.h"

namespace qv {

class TQuorvaneUpdate : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneUpdate(TRoster& roster);
};

} // namespace qv

#pragma once

#include "shell/secondary_window.h"

namespace qv {

class TQuorvaneChangesNews : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneChangesNews(TRoster& roster);
};

} // namespace qv

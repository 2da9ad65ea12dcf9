#pragma once

#include "shell/secondary_window.h"

namespace qv {

class TAbout : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TAbout(TRoster& roster);

protected:
    // The tray's "About" item stays disabled while this window is up.
    void hideEvent(QHideEvent* event) override;
};

} // namespace qv

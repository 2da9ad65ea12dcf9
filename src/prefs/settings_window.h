#pragma once

#include <QCheckBox>

#include "shell/secondary_window.h"

namespace qv {

class TQuorvaneSettings : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneSettings(TRoster& roster);

    // "Show tray icon.": closing the main window goes to the tray only while it is checked.
    QCheckBox* CheckBox4() const { return checkBox4_; }

private:
    void ReadTrayIcon();

    QCheckBox* checkBox4_;
};

} // namespace qv

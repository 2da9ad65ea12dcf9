#pragma once

#include <QLabel>
#include <optional>

#include "shell/secondary_window.h"

namespace qv {

class UiTimer;

class TAbout : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TAbout(TRoster& roster);

protected:
    // OnShow: the memory figures, then their refresh every second while the window is up.
    void showEvent(QShowEvent* event) override;
    // FormClose: the refresh stops; the tray's "About" stays disabled while the window is up.
    void hideEvent(QHideEvent* event) override;

private:
    void BuildControls();
    void FormCreate();
    void FillMemory(bool withTotal);
    void ShowCpuSpeed(std::optional<double> mhz);

    QLabel* label4_ = nullptr;
    QLabel* label5_ = nullptr;
    QLabel* label6_ = nullptr;
    QLabel* label7_ = nullptr;
    UiTimer* timer1_ = nullptr;
};

} // namespace qv

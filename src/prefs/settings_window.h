#pragma once

#include <QCheckBox>
#include <QColor>
#include <QPushButton>
#include <array>

#include "platform/ui_timer.h"
#include "shell/secondary_window.h"

namespace qv {

// The settings: start with the desktop, start in the tray, the log switch, the tray icon, and the
// background colour of the windows. The four preferences are applied and stored on every close
// and once more at program end; the colour lasts until the program ends.
class TQuorvaneSettings : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneSettings(TRoster& roster);
    ~TQuorvaneSettings() override;

    // "Show tray icon.": closing the main window goes to the tray only while it is checked.
    QCheckBox* CheckBox4() const { return checkBoxes_[3]; }
    QCheckBox* CheckBox(int number) const { return checkBoxes_.at(number - 1); }
    // "Switch saved mappings back on at start."
    QCheckBox* RestoreMappings() const { return restoreMappings_; }
    QPushButton* Button(int number) const { return buttons_.at(number - 1); }
    UiTimer* Timer(int number) const { return timers_.at(number - 1); }
    QAction* Exit1() const { return exit1_; }

    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void FormCreate();
    void FormShow();
    // The steps of every close and of the destruction.
    void ApplyPreferences();
    void StoreAutostart();
    void ReadTrayIcon();
    void ReadStartSwitches();
    void CheckBox3Click();
    void SetColourControlsEnabled(bool enabled);
    void PaintWindows(const QColor& colour);
    void CloseAndReopen(UiTimer* unlockTimer);
    void TimerTick(UiTimer* timer);

    std::array<QCheckBox*, 4> checkBoxes_{};
    QCheckBox* restoreMappings_ = nullptr;
    std::array<QPushButton*, 3> buttons_{};
    std::array<UiTimer*, 2> timers_{};
    QAction* exit1_ = nullptr;
    // The colour dialog "Backgrounds" opens on the colour it last gave.
    QColor backgroundsColor_;
};

} // namespace qv

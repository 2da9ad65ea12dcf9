// The background colour of the program's windows: change and reset, with the window closing and
// reopening and the two buttons resting for a second.
#include <QAction>

#include "platform/platform.h"
#include "platform/ui_timer.h"
#include "prefs/background_colour.h"
#include "prefs/settings_window.h"
#include "shell/roster.h"

namespace qv {

void TQuorvaneSettings::Button1Click() {
    Platform& platform = roster_.platform();
    const std::optional<QColor> chosen = platform.ChooseColor(this, backgroundsColor_);
    if (!chosen)
        return;
    backgroundsColor_ = *chosen;
    SetColourControlsEnabled(false);
    exit1_->setEnabled(false);
    if (platform.Question(QStringLiteral("Are you sure remplace your current backgrounds color?"))) {
        PaintWindows(*chosen);
        CloseAndReopen(timers_[0]);
    } else {
        SetColourControlsEnabled(true);
    }
    exit1_->setEnabled(true);
}

void TQuorvaneSettings::Button2Click() {
    Platform& platform = roster_.platform();
    SetColourControlsEnabled(false);
    exit1_->setEnabled(false);
    if (BackgroundColour(*this) == SystemBackgroundColour()) {
        platform.Information(QStringLiteral("You have already reseted backgrounds color."));
        SetColourControlsEnabled(true);
    } else if (platform.Question(QStringLiteral("Are you sure reset your backgrounds color?"))) {
        PaintWindows(SystemBackgroundColour());
        CloseAndReopen(timers_[1]);
    } else {
        SetColourControlsEnabled(true);
    }
    exit1_->setEnabled(true);
}

// Change, Reset and Close.
void TQuorvaneSettings::SetColourControlsEnabled(bool enabled) {
    for (QPushButton* button : buttons_)
        button->setEnabled(enabled);
}

// The nine windows that take the colour; the hidden tray window does not.
void TQuorvaneSettings::PaintWindows(const QColor& colour) {
    using Id = TRoster::WindowId;
    SetBackgroundColour(*this, colour);
    for (Id id :
         {Id::Main, Id::Remote, Id::About, Id::Advanced, Id::ChangesNews, Id::Lock, Id::Unlock, Id::Update})
        SetBackgroundColour(roster_.Window(id), colour);
}

// The main window's Timer5 shows this window again; Change and Reset come back when `unlockTimer`
// fires. A close refused by a failed write leaves the window up and usable instead.
void TQuorvaneSettings::CloseAndReopen(UiTimer* unlockTimer) {
    if (!close()) {
        SetColourControlsEnabled(true);
        return;
    }
    roster_.MainTimer(5)->SetEnabled(true);
    unlockTimer->SetEnabled(true);
    buttons_[2]->setEnabled(true);
}

void TQuorvaneSettings::TimerTick(UiTimer* timer) {
    timer->SetEnabled(false);
    buttons_[0]->setEnabled(true);
    buttons_[1]->setEnabled(true);
}

} // namespace qv

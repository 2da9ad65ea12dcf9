#include "info/about_window.h"

#include "shell/roster.h"
#include "shell/tray_window.h"

namespace qv {

TAbout::TAbout(TRoster& roster)
    : SecondaryWindow(roster, "TAbout", "Quorvane - Internet Port Mapping - About", QSize(308, 415)) {}

void TAbout::hideEvent(QHideEvent* event) {
    roster_.Tray().About3()->setEnabled(true);
    SecondaryWindow::hideEvent(event);
}

} // namespace qv
